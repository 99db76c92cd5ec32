#pragma once

// Unit Cli_VOR01301: the dialog "Filtro de Aprovação de Atividades do Projeto".

#include "FrmFiltroPadrao.h"

#include <memory>

class TBtnPesquisa;
class TCheckBox;
class TClientDataSet;
class TDataSource;
class TField;
class TGroupBox;
class TRadioButton;

namespace Ui {
class TfrmFiltroConcAtivProj;
}

class TfrmFiltroConcAtivProj : public TfrmFiltroPadrao
{
    Q_OBJECT

public:
    explicit TfrmFiltroConcAtivProj(QWidget *parent = nullptr);
    ~TfrmFiltroConcAtivProj() override;

    // --- closing and options ---
    void sbtConfirmaClick(QObject *sender) override;
    void sbtCancelClick(QObject *sender) override;
    void FormClose(QObject *sender, TCloseAction &action) override;
    void btfLoadOpcClick(QObject *sender) override;

    // --- operators and activity descriptions ---
    void rbtTodosOpClick(QObject *sender);
    void rbtListaOpClick(QObject *sender);
    void rbtTodosItemClick(QObject *sender);
    void rbtListaItemClick(QObject *sender);
    void btpOperadorClick(QObject *sender);
    void btpItTrabClick(QObject *sender);

    // --- situations ---
    void ckbTodasClick(QObject *sender);
    void ckbAndamentoClick(QObject *sender);
    void ckbConcluidaClick(QObject *sender);
    void Marca_Todos();

    // --- checks of the confirm action ---
    void vd_CDOPERADOR();
    void vd_CDITEMTRAB();
    void vd_situacao();
    void vd_statusAnda();
    void vd_RBTCHECADO();
    // The last confirm stopped at one of the four checks above.
    bool CriteriosRecusados() const { return m_criteriosRecusados; }

    // --- non-visual components ---
    TClientDataSet *cdsOperador = nullptr;
    TClientDataSet *cdsFiltroItemTrab = nullptr;
    TDataSource *dtsOperador = nullptr;
    TDataSource *dtsItTrab = nullptr;
    TField *cdsOperadorIDMARCADO = nullptr;
    TField *cdsOperadorCDOPERRESP = nullptr;
    TField *cdsOperadorNMOPERADOR = nullptr;
    TField *cdsFiltroItemTrabIDMARCADO = nullptr;
    TField *cdsFiltroItemTrabCDREDUITTRAB = nullptr;
    TField *cdsFiltroItemTrabCDITEMTRAB = nullptr;
    TField *cdsFiltroItemTrabNMITEMTRAB = nullptr;

    // --- controls (from the form resource) ---
    TGroupBox *gpbOperador = nullptr;
    TRadioButton *rbtTodosOp = nullptr;
    TRadioButton *rbtListaOp = nullptr;
    TBtnPesquisa *btpOperador = nullptr;
    TGroupBox *gpbItTrab = nullptr;
    TRadioButton *rbtTodosItem = nullptr;
    TRadioButton *rbtListaItem = nullptr;
    TBtnPesquisa *btpItTrab = nullptr;
    TGroupBox *grbSituacao = nullptr;
    TCheckBox *ckbTodas = nullptr;
    TCheckBox *ckbAndamento = nullptr;
    TCheckBox *ckbConcluida = nullptr;
    TGroupBox *grbStatus = nullptr;
    TCheckBox *ckbAprova = nullptr;
    TCheckBox *ckbNAprovada = nullptr;

private:
    void CriaDados();
    void CriaTela();
    void LigaEventos();
    // Fetches one of the two pick lists into dataSet and lets the user mark
    // keys into the list variable.
    void PesquisaGrupo(const QString &method, TClientDataSet *dataSet, TDataSource *dataSource,
                       const QString &keyField, const QString &titleKey, const QString &notFoundKey,
                       QString &picked);

    std::unique_ptr<Ui::TfrmFiltroConcAtivProj> m_ui;
    bool m_criteriosRecusados = false;
};

// Opens the filter dialog modally, creating it on first use; the instance
// then stays, hidden, for the module's life.
void CriaFiltroConcAtivProj();
