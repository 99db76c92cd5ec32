#pragma once

// Unit Cli_VOR01300: the screen "Aprovação de Atividades do Projeto".

#include "FrmPadraoGrid.h"

#include <QJsonValue>
#include <QList>
#include <QRect>
#include <QSet>
#include <QVariantList>
#include <memory>
#include <utility>

class QAction;
class QScrollArea;
struct RemoteArg;
class TADOIBQuery;
class TBtnPesquisa;
class TButtonFlat;
class TClientDataSet;
class TColumn;
class TDBGrid;
class TDataSource;
class TEdit;
class TField;
class TGroupBox;
class TImage;
class TNetConnection;

namespace Ui {
class TfrmConcAtivProj;
}

class TfrmConcAtivProj : public TfrmPadraoGrid
{
    Q_OBJECT

public:
    explicit TfrmConcAtivProj(QWidget *parent = nullptr);
    ~TfrmConcAtivProj() override;

    // --- lifecycle ---
    void FormCreate(QObject *sender) override;
    void FormClose(QObject *sender, TCloseAction &action) override;
    void FormActivate(QObject *sender) override;
    void netConcAtivProjBeforeConnect(QObject *sender);
    // Brings the whole window into view inside the host's window area, size
    // kept: its designed place lies below the fold of a usual main window.
    void EnquadraNaArea();

    // --- branch and project selection ---
    void vd_CDFILIAL(bool obrigatorio);
    void vd_CDPROJETO(bool obrigatorio);
    void edtCDFILIALExit(QObject *sender);
    void edtCDFILIALChange(QObject *sender);
    void edtCDFILIALKeyPress(QObject *sender, QChar &key);
    void edtCDPROJETOChange(QObject *sender);
    void edtCDPROJETOKeyPress(QObject *sender, QChar &key);
    void btpFilialBeforePesq(QObject *sender, bool &flag);
    void btpFilialAfterPesq(QObject *sender);
    void btpProjetoBeforePesq(QObject *sender, bool &flag);
    void btpProjetoAfterPesq(QObject *sender);
    void panFiltroProjEnter(QObject *sender);

    // --- the load and the tracking summary ---
    void panFiltroProjExit(QObject *sender);
    // Fills cdsConcAtivProj with the header's project: the one place the
    // activity list is fetched, for the load and the reloads. Once the filter
    // dialog exists, its confirm action does it under the dialog's criteria.
    void CarregaAtividades();
    // Opens the filter dialog, then hands the keyboard to the activity grid.
    void sbtFiltroClick(QObject *sender);
    // Writes the five summary values from cdsPlanProj and cdsPlanCSA.
    void MostraAcompanhamento();

    // --- the activity grid ---
    void dbgPadraoDrawColumnCell(QObject *sender, const QRect &rect, int dataCol, TColumn *column, int state);
    void dbgPadraoCellClick(TColumn *column);
    void dbgPadraoTitleClick(TColumn *column);
    void dbgPadraoKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift) override;
    void dbgPadraoKeyPress(QObject *sender, QChar &key) override;
    void dbgPadraoColEnter(QObject *sender);
    void cdsConcAtivProjAfterScroll(TClientDataSet &dataSet);
    void cdsConcAtivProjAfterPost(TClientDataSet &dataSet);
    // Enables the approve command when at least one activity is marked.
    void vd_IDCHECK();
    // Comma and upper-limit rules for a percentage typed into a grid cell.
    void Vd_Virgula(TDBGrid *grid, const QString &fieldName, QChar &key);

    // --- approving, verifying, editing, command states ---
    void sbtConcluirClick(QObject *sender);
    void sbtVerificarClick(QObject *sender) override;
    void sbtAlterarClick(QObject *sender) override;
    void dtsPadraoStateChange(QObject *sender) override;

    // --- field text hooks ---
    void cdsConcAtivProjQTTEMPLAITARGetText(TField &sender, QString &text, bool displayText);
    void cdsConcAtivProjVRPERCCONCLGetText(TField &sender, QString &text, bool displayText);
    void cdsApropriaCSAVRPERCCONCLGetText(TField &sender, QString &text, bool displayText);

    // --- non-visual components ---
    TClientDataSet *cdsConcAtivProj = nullptr;
    TClientDataSet *cdsAtivProj = nullptr;
    TClientDataSet *cdsApropriaCSA = nullptr;
    TClientDataSet *cdsCSAAux = nullptr;
    TClientDataSet *cdsPlanProj = nullptr;
    TClientDataSet *cdsPlanCSA = nullptr;
    TClientDataSet *cdsProjeto = nullptr;
    TADOIBQuery *qryFilial = nullptr;
    TDataSource *dtsApropriaCSA = nullptr;
    TDataSource *dtsProjeto = nullptr;
    TDataSource *dtsFilial = nullptr;
    TNetConnection *netConcAtivProj = nullptr;

    // cdsConcAtivProj
    TField *cdsConcAtivProjIDCHECK = nullptr;
    TField *cdsConcAtivProjCDSEQCRONPRJ = nullptr;
    TField *cdsConcAtivProjDESCRICAO = nullptr;
    TField *cdsConcAtivProjCDFILIAL = nullptr;
    TField *cdsConcAtivProjCDPROJETO = nullptr;
    TField *cdsConcAtivProjNRBASELINEPR = nullptr;
    TField *cdsConcAtivProjCDVERCRONPRJ = nullptr;
    TField *cdsConcAtivProjCDOPERRESP = nullptr;
    TField *cdsConcAtivProjNMOPERADOR = nullptr;
    TField *cdsConcAtivProjNRTAREFA = nullptr;
    TField *cdsConcAtivProjNRPLATIVTARE = nullptr;
    TField *cdsConcAtivProjQTTEMPLAITAR = nullptr;
    TField *cdsConcAtivProjDTINIITCRPRJ = nullptr;
    TField *cdsConcAtivProjDTFINITCRPRJ = nullptr;
    TField *cdsConcAtivProjDTINPATIVTAR = nullptr;
    TField *cdsConcAtivProjDTFIPATIVTAR = nullptr;
    TField *cdsConcAtivProjCDFILAPRIO = nullptr;
    TField *cdsConcAtivProjVRPERCCONCL = nullptr;
    TField *cdsConcAtivProjDTHRAPROVATIVTA = nullptr;
    TField *cdsConcAtivProjDTINIULTATIV = nullptr;
    TField *cdsConcAtivProjAPROPRIA = nullptr;
    TField *cdsConcAtivProjSTAPROVACAO = nullptr;
    TField *cdsConcAtivProjSITUACAO = nullptr;
    // cdsAtivProj
    TField *cdsAtivProjIDCHECK = nullptr;
    TField *cdsAtivProjCDSEQCRONPRJ = nullptr;
    TField *cdsAtivProjDESCRICAO = nullptr;
    TField *cdsAtivProjCDFILIAL = nullptr;
    TField *cdsAtivProjCDPROJETO = nullptr;
    TField *cdsAtivProjNRBASELINEPR = nullptr;
    TField *cdsAtivProjCDVERCRONPRJ = nullptr;
    TField *cdsAtivProjCDOPERRESP = nullptr;
    TField *cdsAtivProjNMOPERADOR = nullptr;
    TField *cdsAtivProjNRTAREFA = nullptr;
    TField *cdsAtivProjNRPLATIVTARE = nullptr;
    TField *cdsAtivProjQTTEMPLAITAR = nullptr;
    TField *cdsAtivProjDTINIITCRPRJ = nullptr;
    TField *cdsAtivProjDTFINITCRPRJ = nullptr;
    TField *cdsAtivProjDTINPATIVTAR = nullptr;
    TField *cdsAtivProjDTFIPATIVTAR = nullptr;
    TField *cdsAtivProjCDFILAPRIO = nullptr;
    TField *cdsAtivProjVRPERCCONCL = nullptr;
    TField *cdsAtivProjAPROPRIA = nullptr;
    // cdsApropriaCSA
    TField *cdsApropriaCSADTHRINIAPROCSA = nullptr;
    TField *cdsApropriaCSADTHRFIMAPROCSA = nullptr;
    TField *cdsApropriaCSAVRPERCCONCL = nullptr;
    TField *cdsApropriaCSAINCLUSAO = nullptr;
    TField *cdsApropriaCSADSOBSAPROATVCSA = nullptr;
    // cdsCSAAux
    TField *cdsCSAAuxDTHRINIAPROCSA = nullptr;
    TField *cdsCSAAuxDTHRFIMAPROCSA = nullptr;
    TField *cdsCSAAuxVRPERCCONCL = nullptr;
    TField *cdsCSAAuxINCLUSAO = nullptr;
    TField *cdsCSAAuxDSOBSAPROATVCSA = nullptr;
    TField *cdsCSAAuxNRPLATIVTARE = nullptr;
    TField *cdsCSAAuxNRTAREFA = nullptr;
    // cdsPlanProj, cdsPlanCSA
    TField *cdsPlanProjVRPERCONCPRJ = nullptr;
    TField *cdsPlanProjNRHORASPLAN = nullptr;
    TField *cdsPlanProjNRDIASITCRPJ = nullptr;
    TField *cdsPlanCSANRHORASAPROPRIA = nullptr;
    TField *cdsPlanCSAAPROPRIADO = nullptr;
    // cdsProjeto
    TField *cdsProjetoCDPROJETO = nullptr;
    TField *cdsProjetoNMPROJETO = nullptr;
    TField *cdsProjetoCDOPERESPRJ = nullptr;
    // qryFilial
    TField *qryFilialCDFILIAL = nullptr;
    TField *qryFilialNMFILIAL = nullptr;

    // --- controls (from the form resource) ---
    TButtonFlat *sbtFiltro = nullptr;
    TButtonFlat *sbtConcluir = nullptr;
    TImage *imgUnchecked = nullptr;
    TImage *imgChecked = nullptr;
    TImage *imgGrayCheck = nullptr;
    TImage *imgAlerta = nullptr;
    TPanel *panFiltroProj = nullptr;
    TLabel *lblFilial = nullptr;
    TLabel *lblProjeto = nullptr;
    TEdit *edtCDFILIAL = nullptr;
    TBtnPesquisa *btpFilial = nullptr;
    TEdit *edtNMFILIAL = nullptr;
    TEdit *edtCDPROJETO = nullptr;
    TBtnPesquisa *btpProjeto = nullptr;
    TEdit *edtNMPROJETO = nullptr;
    TGroupBox *grbAcomProj = nullptr;
    TLabel *lblHrPlan = nullptr;
    TLabel *lblHrReal = nullptr;
    TLabel *lblPlanXReal = nullptr;
    TLabel *lblConcCrono = nullptr;
    TLabel *lblStatus = nullptr;
    TLabel *lblVrHrPlan = nullptr;
    TLabel *lblVrHrReal = nullptr;
    TLabel *lblVrPlanXRel = nullptr;
    TLabel *lblVrConcCrono = nullptr;
    TLabel *lblVrStatus = nullptr;
    TPanel *Panel1 = nullptr;
    QScrollArea *ScrollBox1 = nullptr;
    TDBGrid *dbgApropriaCSA = nullptr;
    QAction *N1 = nullptr;
    TMenuItem *mnuFiltrar = nullptr;
    TMenuItem *mnuConcluir = nullptr;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    bool SaindoDaJanela() const;
    // The filter command, enabled whatever the list's state.
    void LiberaFiltro();
    void CriaDados();
    void CriaTela();
    void CriaGrades();
    void AjustaAcompanhamento();
    void LigaEventos();
    // A remote method of netConcAtivProj, its result through CheckResultServ.
    QJsonValue ChamaServidor(const QString &method, const QList<RemoteArg> &args);
    // A method's result through CheckResultServ; a write that timed out is
    // reported as of unknown outcome and the list is read again as soon as
    // the server answers.
    QJsonValue ConfereServidor(const QString &method, const QJsonValue &resultado);
    void AgendaReleitura(int espera);
    void ReleListaPendente();
    // Keys (kChaveAtividade) of a visible row of cdsConcAtivProj, of the current one.
    QVariantList ChaveDaLinha(int linha) const;
    QVariantList ChaveAtual() const;
    // The reload after a stored percentage or an approval: list, the bookings
    // of the activity the cursor lands on (destino, else alternativa, else the
    // first), the project's bookings and the tracking summary.
    void RecarregaComResumo(const QVariantList &destino, const QVariantList &alternativa);
    void CarregaPlanejamento(const QString &filial, const QString &projeto);
    // Sends a percentage still being typed (editor text, then the row's post);
    // raises when the editor refused its text or the send failed.
    void AssentaPercentual();
    // A lookup takes the list away: closes it, a pending percentage sent first.
    void FechaLista();
    // Replaces a dataset's content with no rows (open, declared fields only).
    static void Esvazia(TClientDataSet *dataSet);

    // The logged-in operator is the loaded project's responsible operator.
    bool Responsavel() const;
    // An activity has bookings anywhere in the project (cdsCSAAux), by key.
    bool TemApropriacoes(const QString &tarefa, const QString &atividade) const;
    // The mark column's picture for the active row: gray (cannot be marked),
    // checked or unchecked.
    const TImage *IconeMarca() const;
    // The project's bookings by activity, rebuilt whenever cdsCSAAux gets data.
    void IndexaApropriacoes();
    // Fetches the current activity's bookings into cdsApropriaCSA.
    void CarregaApropriacoes();
    // Branch and project of the loaded list, the header's when it is empty.
    std::pair<QString, QString> ProjetoDaLista() const;
    // The percentage cell may be edited now.
    bool PercentualEditavel() const;
    // Puts the row's percentage back as loaded, sending nothing.
    void RestauraPercentual();
    // The reload that ends approving and verifying: list, bookings, project bookings.
    void RecarregaAtividades();
    // The mark of the current activity, toggled (the single toggle).
    void AlternaMarca(TColumn *column);

    QSet<QString> m_apropriacoes;      // NRTAREFA + separator + NRPLATIVTARE of cdsCSAAux
    bool m_adiaApropriacoes = false;   // booking reload deferred (a walk over the list)
    bool m_marcandoTodas = false;      // the mark-all walk posts marks only
    bool m_restaurando = false;        // a percentage being put back
    bool m_adiaRecarga = false;        // a posted percentage is sent, its reload left to the caller
    bool m_releituraPendente = false;  // a write timed out: the list may not be what the server holds
    bool m_releituraAgendada = false;

    std::unique_ptr<Ui::TfrmConcAtivProj> m_ui;
    // The last load through the filter dialog stopped at one of its checks:
    // the filter command stays enabled, even with the list closed, until a
    // list arrives.
    bool m_filtroLiberado = false;
};
