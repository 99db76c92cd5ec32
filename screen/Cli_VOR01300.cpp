#include "Cli_VOR01300.h"
#include "ui_Cli_VOR01300.h"

#include "VOR01300.h"
#include "Cli_VOR01301.h"

#include "ADOIBQuery.h"
#include "Application.h"
#include "BtnPesquisa.h"
#include "ButtonFlat.h"
#include "ClientDataSet.h"
#include "DBGrid.h"
#include "DBText.h"
#include "DataSource.h"
#include "Errors.h"
#include "Guard.h"
#include "Events.h"
#include "Edit.h"
#include "GroupBox.h"
#include "Image.h"
#include "Label.h"
#include "MenuItem.h"
#include "Messages.h"
#include "NetConnection.h"
#include "NumberFormat.h"
#include "Panel.h"
#include "Routines.h"
#include "ScopeGuard.h"
#include "Services.h"
#include "ShowAvi.h"

#include <QApplication>
#include <QJsonArray>
#include <QLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <charconv>
#include <cmath>

extern "C" {
TfrmConcAtivProj *frmConcAtivProj = nullptr;
bool boStCriado = false;
}

void Cli_VOR01300_Initialization()
{
    boStCriado = false;
}

void CriaConcAtivProj()
{
    // The hour-glass covers creating and showing only; a failure still passes
    // on to the host, with the normal cursor back.
    struct CursorScope
    {
        CursorScope() { app()->setScreenCursor(crHourGlass); }
        ~CursorScope() { app()->setScreenCursor(crDefault); }
    } cursor;
    if (!boStCriado) {
        frmConcAtivProj = app()->CreateForm<TfrmConcAtivProj>();
        boStCriado = true;
    }
    frmConcAtivProj->Show();
    frmConcAtivProj->SetWindowState(wsNormal);
    frmConcAtivProj->EnquadraNaArea();
}

namespace {

// The fields that name an activity on the server.
const QStringList kChaveAtividade{QStringLiteral("CDFILIAL"), QStringLiteral("CDPROJETO"),
                                  QStringLiteral("NRBASELINEPR"), QStringLiteral("CDVERCRONPRJ"),
                                  QStringLiteral("CDSEQCRONPRJ")};

// Colours of the family's standard look.
const QColor clInfoBk{255, 255, 225};

struct FieldDef
{
    const char *name;
    TFieldType type;
    int size;
    const char *label;
    bool visible;
};

TField *addField(TClientDataSet *dataSet, const FieldDef &def)
{
    TField *field = dataSet->AddField(QString::fromLatin1(def.name), def.type, def.size);
    field->DisplayLabel = QString::fromUtf8(def.label);
    field->Visible = def.visible;
    return field;
}

void setBackground(QWidget *widget, const QColor &color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Base, color);
    palette.setColor(QPalette::Window, color);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

QPixmap picture(const char *name)
{
    return QPixmap(QStringLiteral(":/vor01300/") + QLatin1String(name));
}

// A glyph with its disabled look beside it, as NumGlyphs 2 expects.
QPixmap glyphPair(const QPixmap &enabled, const QPixmap &disabled)
{
    QPixmap pair(enabled.width() * 2, enabled.height());
    pair.fill(Qt::transparent);
    QPainter painter(&pair);
    painter.drawPixmap(0, 0, enabled);
    painter.drawPixmap(enabled.width(), 0, disabled);
    return pair;
}

} // namespace

TfrmConcAtivProj::TfrmConcAtivProj(QWidget *parent)
    : TfrmPadraoGrid(parent)
    , m_ui(std::make_unique<Ui::TfrmConcAtivProj>())
{
    CriaDados();
    CriaTela();
    CriaGrades();
    LigaEventos();
}

TfrmConcAtivProj::~TfrmConcAtivProj() = default;

void TfrmConcAtivProj::CriaDados()
{
    const auto S = TFieldType::String;
    const auto X = TFieldType::FixedString;
    const auto F = TFieldType::Float;
    const auto D = TFieldType::DateTime;

    // The activity list and its working copy share their first 18 fields.
    const FieldDef atividades[] = {
        {"IDCHECK", X, 1, "", false},
        {"CDSEQCRONPRJ", S, 5, "", false},
        {"DESCRICAO", S, 100, "Descrição", true},
        {"CDFILIAL", S, 4, "", false},
        {"CDPROJETO", S, 10, "", false},
        {"NRBASELINEPR", S, 3, "", false},
        {"CDVERCRONPRJ", S, 3, "", false},
        {"CDOPERRESP", S, 12, "", false},
        {"NMOPERADOR", S, 40, "Operador", true},
        {"NRTAREFA", S, 10, "", false},
        {"NRPLATIVTARE", S, 5, "", false},
        {"QTTEMPLAITAR", F, 0, "Tempo", false},
        {"DTINIITCRPRJ", D, 0, "Data Inicial Planejada", false},
        {"DTFINITCRPRJ", D, 0, "Data Final Planejada", false},
        {"DTINPATIVTAR", S, 19, "Data Inicial Real", false},
        {"DTFIPATIVTAR", S, 19, "Data Final Real", false},
        {"CDFILAPRIO", S, 3, "Fila", false},
        {"VRPERCCONCL", F, 0, "% Conclusão", false},
    };
    TField **concAtivProj[] = {
        &cdsConcAtivProjIDCHECK, &cdsConcAtivProjCDSEQCRONPRJ, &cdsConcAtivProjDESCRICAO,
        &cdsConcAtivProjCDFILIAL, &cdsConcAtivProjCDPROJETO, &cdsConcAtivProjNRBASELINEPR,
        &cdsConcAtivProjCDVERCRONPRJ, &cdsConcAtivProjCDOPERRESP, &cdsConcAtivProjNMOPERADOR,
        &cdsConcAtivProjNRTAREFA, &cdsConcAtivProjNRPLATIVTARE, &cdsConcAtivProjQTTEMPLAITAR,
        &cdsConcAtivProjDTINIITCRPRJ, &cdsConcAtivProjDTFINITCRPRJ, &cdsConcAtivProjDTINPATIVTAR,
        &cdsConcAtivProjDTFIPATIVTAR, &cdsConcAtivProjCDFILAPRIO, &cdsConcAtivProjVRPERCCONCL,
    };
    TField **ativProj[] = {
        &cdsAtivProjIDCHECK, &cdsAtivProjCDSEQCRONPRJ, &cdsAtivProjDESCRICAO, &cdsAtivProjCDFILIAL,
        &cdsAtivProjCDPROJETO, &cdsAtivProjNRBASELINEPR, &cdsAtivProjCDVERCRONPRJ, &cdsAtivProjCDOPERRESP,
        &cdsAtivProjNMOPERADOR, &cdsAtivProjNRTAREFA, &cdsAtivProjNRPLATIVTARE, &cdsAtivProjQTTEMPLAITAR,
        &cdsAtivProjDTINIITCRPRJ, &cdsAtivProjDTFINITCRPRJ, &cdsAtivProjDTINPATIVTAR,
        &cdsAtivProjDTFIPATIVTAR, &cdsAtivProjCDFILAPRIO, &cdsAtivProjVRPERCCONCL,
    };
    static_assert(std::size(atividades) == std::size(concAtivProj) && std::size(atividades) == std::size(ativProj));

    cdsConcAtivProj = new TClientDataSet(this);
    cdsConcAtivProj->setObjectName(QStringLiteral("cdsConcAtivProj"));
    cdsAtivProj = new TClientDataSet(this);
    cdsAtivProj->setObjectName(QStringLiteral("cdsAtivProj"));
    for (size_t i = 0; i < std::size(atividades); ++i) {
        *concAtivProj[i] = addField(cdsConcAtivProj, atividades[i]);
        *ativProj[i] = addField(cdsAtivProj, atividades[i]);
    }
    for (TField *percent : {cdsConcAtivProjVRPERCCONCL, cdsAtivProjVRPERCCONCL}) {
        percent->Alignment = Qt::AlignLeft;
        percent->DisplayFormat = QStringLiteral("#");
        percent->Precision = 2;
    }
    cdsConcAtivProjDTHRAPROVATIVTA = addField(cdsConcAtivProj, {"DTHRAPROVATIVTA", D, 0, "Data de Aprovação", true});
    cdsConcAtivProjDTINIULTATIV = addField(cdsConcAtivProj, {"DTINIULTATIV", D, 0, "", true});
    cdsConcAtivProjAPROPRIA = addField(cdsConcAtivProj, {"APROPRIA", S, 8, "Apropriado", false});
    cdsConcAtivProjSTAPROVACAO = addField(cdsConcAtivProj, {"STAPROVACAO", X, 1, "", true});
    cdsConcAtivProjSITUACAO = addField(cdsConcAtivProj, {"SITUACAO", S, 1, "", true});
    cdsAtivProjAPROPRIA = addField(cdsAtivProj, {"APROPRIA", S, 8, "Apropriado", false});

    // Bookings of the current activity, and of the whole project.
    const FieldDef apropriacoes[] = {
        {"DTHRINIAPROCSA", S, 19, "Data Inicial CSA", true},
        {"DTHRFIMAPROCSA", S, 19, "Data Final CSA", true},
        {"VRPERCCONCL", F, 0, "% Conclusão", true},
        {"INCLUSAO", S, 64, "Inclusão", true},
        {"DSOBSAPROATVCSA", S, 4000, "Observação", true},
    };
    TField **apropriaCSA[] = {&cdsApropriaCSADTHRINIAPROCSA, &cdsApropriaCSADTHRFIMAPROCSA,
                              &cdsApropriaCSAVRPERCCONCL, &cdsApropriaCSAINCLUSAO,
                              &cdsApropriaCSADSOBSAPROATVCSA};
    TField **csaAux[] = {&cdsCSAAuxDTHRINIAPROCSA, &cdsCSAAuxDTHRFIMAPROCSA, &cdsCSAAuxVRPERCCONCL,
                         &cdsCSAAuxINCLUSAO, &cdsCSAAuxDSOBSAPROATVCSA};
    cdsApropriaCSA = new TClientDataSet(this);
    cdsApropriaCSA->setObjectName(QStringLiteral("cdsApropriaCSA"));
    cdsCSAAux = new TClientDataSet(this);
    cdsCSAAux->setObjectName(QStringLiteral("cdsCSAAux"));
    for (size_t i = 0; i < std::size(apropriacoes); ++i) {
        *apropriaCSA[i] = addField(cdsApropriaCSA, apropriacoes[i]);
        *csaAux[i] = addField(cdsCSAAux, apropriacoes[i]);
    }
    for (TField *percent : {cdsApropriaCSAVRPERCCONCL, cdsCSAAuxVRPERCCONCL}) {
        percent->Alignment = Qt::AlignLeft;
        percent->DisplayFormat = QStringLiteral("#");
    }
    cdsCSAAuxNRPLATIVTARE = addField(cdsCSAAux, {"NRPLATIVTARE", S, 5, "", true});
    cdsCSAAuxNRTAREFA = addField(cdsCSAAux, {"NRTAREFA", S, 10, "", true});

    cdsPlanProj = new TClientDataSet(this);
    cdsPlanProj->setObjectName(QStringLiteral("cdsPlanProj"));
    cdsPlanProjVRPERCONCPRJ = addField(cdsPlanProj, {"VRPERCONCPRJ", F, 0, "", true});
    cdsPlanProjNRHORASPLAN = addField(cdsPlanProj, {"NRHORASPLAN", S, 9, "", true});
    cdsPlanProjNRDIASITCRPJ = addField(cdsPlanProj, {"NRDIASITCRPJ", F, 0, "", true});

    cdsPlanCSA = new TClientDataSet(this);
    cdsPlanCSA->setObjectName(QStringLiteral("cdsPlanCSA"));
    cdsPlanCSANRHORASAPROPRIA = addField(cdsPlanCSA, {"NRHORASAPROPRIA", S, 8, "", true});
    cdsPlanCSAAPROPRIADO = addField(cdsPlanCSA, {"APROPRIADO", F, 0, "", true});

    cdsProjeto = new TClientDataSet(this);
    cdsProjeto->setObjectName(QStringLiteral("cdsProjeto"));
    cdsProjetoCDPROJETO = addField(cdsProjeto, {"CDPROJETO", S, 10, "Código", true});
    cdsProjetoNMPROJETO = addField(cdsProjeto, {"NMPROJETO", S, 100, "Nome", true});
    cdsProjetoCDOPERESPRJ = addField(cdsProjeto, {"CDOPERESPRJ", S, 12, "", false});

    // Branches come from the host's local database (dtmDBGeral), not the server.
    qryFilial = new TADOIBQuery(this);
    qryFilial->setObjectName(QStringLiteral("qryFilial"));
    qryFilial->SQL = QStringList{
        QStringLiteral("SELECT CDFILIAL,NMFILIAL"),
        QStringLiteral("  FROM  FILIAL"),
        QStringLiteral(" WHERE (:P_CDFILIAL = CDFILIAL OR :P_TCDFILIAL = 'T')"),
        QStringLiteral(" ORDER BY CDFILIAL"),
        QStringLiteral(" "),
    };
    qryFilialCDFILIAL = addField(qryFilial->Query(), {"CDFILIAL", S, 4, "Código", true});
    qryFilialNMFILIAL = addField(qryFilial->Query(), {"NMFILIAL", S, 30, "Nome", true});

    dtsPadrao->SetDataSet(cdsConcAtivProj);
    dtsApropriaCSA = new TDataSource(this);
    dtsApropriaCSA->setObjectName(QStringLiteral("dtsApropriaCSA"));
    dtsApropriaCSA->SetDataSet(cdsApropriaCSA);
    dtsProjeto = new TDataSource(this);
    dtsProjeto->setObjectName(QStringLiteral("dtsProjeto"));
    dtsProjeto->SetDataSet(cdsProjeto);
    dtsFilial = new TDataSource(this);
    dtsFilial->setObjectName(QStringLiteral("dtsFilial"));
    dtsFilial->SetDataSet(qryFilial->Query());

    netConcAtivProj = new TNetConnection(this);
    netConcAtivProj->setObjectName(QStringLiteral("netConcAtivProj"));
    netConcAtivProj->SetServerName(QStringLiteral("VOR01300.rdmConcAtivProje"));
    netConcAtivProj->SetThrowException(false);

    msgPadrao->Messages = QStringList{
        QStringLiteral("Excl|Confirma exclusão?"),
        QStringLiteral("FILINF|Filial deve ser informada"),
        QStringLiteral("FILNCAD|Filial não cadastrada"),
        QStringLiteral("P_NCADFIL|Nenhum projeto cadastrado para filial informada"),
        QStringLiteral("PROINF|Projeto deve ser informado"),
        QStringLiteral("PRONCAD|Projeto não cadastrado"),
        QStringLiteral("PERC_MENOR|Percentual de conclusão deve ser maior ou igual á 0."),
    };
}

void TfrmConcAtivProj::CriaTela()
{
    m_ui->setupUi(this);
    move(38, 294); // the resource's position; setupUi only sizes the window
    SetFormStyle(fsMDIChild);
    lblCodTela->SetCaption(QStringLiteral("VOR01300"));

    sbtFiltro = m_ui->sbtFiltro;
    sbtConcluir = m_ui->sbtConcluir;
    imgUnchecked = m_ui->imgUnchecked;
    imgChecked = m_ui->imgChecked;
    imgGrayCheck = m_ui->imgGrayCheck;
    imgAlerta = m_ui->imgAlerta;
    panFiltroProj = m_ui->panFiltroProj;
    lblFilial = m_ui->lblFilial;
    lblProjeto = m_ui->lblProjeto;
    edtCDFILIAL = m_ui->edtCDFILIAL;
    btpFilial = m_ui->btpFilial;
    edtNMFILIAL = m_ui->edtNMFILIAL;
    edtCDPROJETO = m_ui->edtCDPROJETO;
    btpProjeto = m_ui->btpProjeto;
    edtNMPROJETO = m_ui->edtNMPROJETO;
    grbAcomProj = m_ui->grbAcomProj;
    lblHrPlan = m_ui->lblHrPlan;
    lblHrReal = m_ui->lblHrReal;
    lblPlanXReal = m_ui->lblPlanXReal;
    lblConcCrono = m_ui->lblConcCrono;
    lblStatus = m_ui->lblStatus;
    lblVrHrPlan = m_ui->lblVrHrPlan;
    lblVrHrReal = m_ui->lblVrHrReal;
    lblVrPlanXRel = m_ui->lblVrPlanXRel;
    lblVrConcCrono = m_ui->lblVrConcCrono;
    lblVrStatus = m_ui->lblVrStatus;
    // Boxes without a label of their own, named for screen readers.
    edtNMFILIAL->setAccessibleName(QStringLiteral("Nome da filial"));
    edtNMPROJETO->setAccessibleName(QStringLiteral("Nome do projeto"));
    m_ui->dbgApropriaCSA->setAccessibleName(QStringLiteral("Apropriações da atividade"));
    dbgPadrao->setAccessibleName(QStringLiteral("Atividades do projeto"));
    // Each summary value is read out by its own caption, also while empty.
    const std::pair<TLabel *, TLabel *> rotulos[] = {{lblVrHrPlan, lblHrPlan},
                                                     {lblVrHrReal, lblHrReal},
                                                     {lblVrPlanXRel, lblPlanXReal},
                                                     {lblVrConcCrono, lblConcCrono},
                                                     {lblVrStatus, lblStatus}};
    for (const auto &[valor, rotulo] : rotulos) {
        QString nome = rotulo->text().trimmed();
        if (nome.endsWith(QLatin1Char('-')))
            nome.chop(1);
        valor->setAccessibleName(nome.trimmed());
    }
    // The tracking box stays inert to input, but its five values are what the
    // supervisor reads: they keep the normal text colour.
    for (TLabel *valor : {lblVrHrPlan, lblVrHrReal, lblVrPlanXRel, lblVrConcCrono, lblVrStatus}) {
        QPalette palette = valor->palette();
        palette.setColor(QPalette::Disabled, QPalette::WindowText,
                         palette.color(QPalette::Active, QPalette::WindowText));
        valor->setPalette(palette);
    }
    Panel1 = m_ui->Panel1;
    ScrollBox1 = m_ui->ScrollBox1;
    dbgApropriaCSA = m_ui->dbgApropriaCSA;

    // Tool panel: the two added commands, the inherited ones moved after them,
    // and the grid's pictures (hidden, image sources only).
    for (QWidget *onMenu : std::initializer_list<QWidget *>{sbtFiltro, sbtConcluir, imgUnchecked, imgChecked,
                                                            imgGrayCheck, imgAlerta}) {
        const QRect at = onMenu->geometry();
        onMenu->setParent(panMenu);
        onMenu->setGeometry(at);
    }
    sbtFiltro->SetGlyph(glyphPair(picture("funnel.xpm"), picture("funnel-disabled.xpm")), 2);
    sbtConcluir->SetGlyph(picture("sheetcheck.xpm"));
    sbtFiltro->show();
    sbtConcluir->show();
    sbtImprimir->move(268, sbtImprimir->y());
    sbtImprimir->SetEnabled(false);
    // The screen has no help of its own to open: the user guide is outside it.
    sbtAjuda->SetEnabled(false);
    sbtAjuda->move(304, sbtAjuda->y());
    sbtFechar->move(340, sbtFechar->y());
    imgUnchecked->SetPicture(picture("unchecked.xpm"));
    imgChecked->SetPicture(picture("checked.xpm"));
    imgGrayCheck->SetPicture(picture("graycheck.xpm"));
    imgAlerta->SetPicture(picture("alerta.xpm"));
    for (TImage *image : {imgUnchecked, imgChecked, imgGrayCheck, imgAlerta})
        image->hide();

    // Header panel between the tool panel and the pages.
    insertHeader(panFiltroProj);
    for (TEdit *code : {edtCDFILIAL, edtCDPROJETO})
        setBackground(code, clInfoBk);
    for (TEdit *name : {edtNMFILIAL, edtNMPROJETO}) {
        QPalette palette = name->palette();
        palette.setColor(QPalette::Base, palette.color(QPalette::Button));
        name->setPalette(palette);
    }
    btpFilial->SetTitle(QStringLiteral("Filial"));
    btpFilial->SetAssociate(edtCDFILIAL);
    btpFilial->SetDataSource(dtsFilial);
    btpFilial->SetGlyph(picture("hand.xpm"));
    btpProjeto->SetTitle(QStringLiteral("Projeto"));
    btpProjeto->SetAssociate(edtCDPROJETO);
    btpProjeto->SetDataSource(dtsProjeto);
    btpProjeto->SetGlyph(picture("hand.xpm"));

    // Below the activity grid: the strip and the bookings of the current activity.
    panDbgPadrao->layout()->addWidget(Panel1);
    panDbgPadrao->layout()->addWidget(ScrollBox1);
    // The keyboard goes header -> activities -> bookings; the scroll box
    // around the bookings is no stop of its own.
    ScrollBox1->setFocusPolicy(Qt::NoFocus);
    QWidget::setTabOrder(edtCDFILIAL, edtCDPROJETO);
    QWidget::setTabOrder(edtCDPROJETO, dbgPadrao);
    QWidget::setTabOrder(dbgPadrao, dbgApropriaCSA);
    setBackground(dbgApropriaCSA, clInfoBk);

    // Menu: the inherited items start disabled; filter and approve are added.
    for (TMenuItem *item : {mnuListagem, mnuIncluir, mnuAlterar, mnuExcluir, mnuProcurar, mnuVerificar,
                            mnuCancelar, mnuConfirmar})
        item->SetEnabled(false);
    N1 = mnuManutencao->addSeparator();
    N1->setObjectName(QStringLiteral("N1"));
    mnuFiltrar = new TMenuItem(QStringLiteral("&Filtrar"), this);
    mnuFiltrar->setObjectName(QStringLiteral("mnuFiltrar"));
    mnuFiltrar->SetShortCut(16460);
    mnuFiltrar->SetEnabled(false);
    addMenuItem(mnuManutencao, mnuFiltrar);
    mnuConcluir = new TMenuItem(QStringLiteral("Ap&rovar Atividade"), this);
    mnuConcluir->setObjectName(QStringLiteral("mnuConcluir"));
    mnuConcluir->SetShortCut(16464);
    mnuConcluir->SetEnabled(false);
    addMenuItem(mnuManutencao, mnuConcluir);
}

void TfrmConcAtivProj::CriaGrades()
{
    dbgPadrao->SetOptions(dgTitles | dgColumnResize | dgColLines | dgRowLines | dgTabs | dgAlwaysShowSelection
                          | dgConfirmDelete | dgCancelOnExit);
    dbgPadrao->ClearColumns();
    // The mark column's title is a check mark.
    TColumn *check = dbgPadrao->AddColumn(QStringLiteral("IDCHECK"), QString(QChar(0x2713)));
    QFont checkFont(QStringLiteral("MS Sans Serif"));
    checkFont.setPixelSize(11);
    check->Title().SetFont(checkFont);
    check->Title().SetFontColor(palette().color(QPalette::WindowText));
    // Narrower than first designed (241, and 128 for Data Final Real) so that
    // every column, Data de Aprovação last, fits the window's designed width.
    dbgPadrao->AddColumn(QStringLiteral("DESCRICAO"), QStringLiteral("Descrição"), 220);
    dbgPadrao->AddColumn(QStringLiteral("NMOPERADOR"), QStringLiteral("Operador"), 159);
    dbgPadrao->AddColumn(QStringLiteral("QTTEMPLAITAR"), QStringLiteral("Tempo"), 49)->SetAlignment(Qt::AlignLeft);
    dbgPadrao->AddColumn(QStringLiteral("DTINIITCRPRJ"), QStringLiteral("Data Inicial Planejada"), 108);
    dbgPadrao->AddColumn(QStringLiteral("DTFINITCRPRJ"), QStringLiteral("Data Final Planejada"), 102);
    dbgPadrao->AddColumn(QStringLiteral("DTINPATIVTAR"), QStringLiteral("Data Inicial Real"));
    dbgPadrao->AddColumn(QStringLiteral("DTFIPATIVTAR"), QStringLiteral("Data Final Real"));
    dbgPadrao->AddColumn(QStringLiteral("CDFILAPRIO"), QStringLiteral("Fila"), 27);
    dbgPadrao->AddColumn(QStringLiteral("APROPRIA"), QStringLiteral("Apropriado"), 60);
    dbgPadrao->AddColumn(QStringLiteral("VRPERCCONCL"), QStringLiteral("% Conclusão"), 69)
        ->Title().SetAlignment(Qt::AlignRight);
    dbgPadrao->AddColumn(QStringLiteral("DTHRAPROVATIVTA"), QStringLiteral("Data de Aprovação"));

    dbgApropriaCSA->SetDataSource(dtsApropriaCSA);
    dbgApropriaCSA->SetOptions(dgTitles | dgColumnResize | dgColLines | dgRowLines | dgTabs | dgConfirmDelete
                               | dgCancelOnExit);
    dbgApropriaCSA->SetReadOnly(true);
    dbgApropriaCSA->ClearColumns();
    dbgApropriaCSA->AddColumn(QStringLiteral("DTHRINIAPROCSA"), QStringLiteral("Data Inicial CSA"));
    dbgApropriaCSA->AddColumn(QStringLiteral("DTHRFIMAPROCSA"), QStringLiteral("Data Final CSA"));
    dbgApropriaCSA->AddColumn(QStringLiteral("VRPERCCONCL"), QStringLiteral("% Conclusão"))
        ->Title().SetAlignment(Qt::AlignRight);
    dbgApropriaCSA->AddColumn(QStringLiteral("INCLUSAO"), QStringLiteral("Inclusão"), 308);
    dbgApropriaCSA->AddColumn(QStringLiteral("DSOBSAPROATVCSA"), QStringLiteral("Observação"));

    dbtNome->SetDataSource(dtsPadrao);
    dbtNome->SetDataField(QStringLiteral("DESCRICAO"));
}

void TfrmConcAtivProj::LigaEventos()
{
    netConcAtivProj->BeforeConnect = [this](QObject *sender) { netConcAtivProjBeforeConnect(sender); };
    sbtFiltro->OnClick = [this](QObject *sender) { sbtFiltroClick(sender); };
    mnuFiltrar->OnClick = [this](QObject *sender) { sbtFiltroClick(sender); };

    panFiltroProj->OnEnter = [this](QObject *sender) { panFiltroProjEnter(sender); };
    panFiltroProj->OnExit = [this](QObject *sender) { panFiltroProjExit(sender); };
    edtCDFILIAL->OnChange = [this](QObject *sender) { edtCDFILIALChange(sender); };
    edtCDFILIAL->OnExit = [this](QObject *sender) { edtCDFILIALExit(sender); };
    edtCDFILIAL->OnKeyPress = [this](QObject *sender, QChar &key) { edtCDFILIALKeyPress(sender, key); };
    edtCDPROJETO->OnChange = [this](QObject *sender) { edtCDPROJETOChange(sender); };
    edtCDPROJETO->OnKeyPress = [this](QObject *sender, QChar &key) { edtCDPROJETOKeyPress(sender, key); };
    btpFilial->OnBeforePesq = [this](QObject *sender, bool &flag) { btpFilialBeforePesq(sender, flag); };
    btpFilial->OnAfterPesq = [this](QObject *sender) { btpFilialAfterPesq(sender); };
    btpProjeto->OnBeforePesq = [this](QObject *sender, bool &flag) { btpProjetoBeforePesq(sender, flag); };
    btpProjeto->OnAfterPesq = [this](QObject *sender) { btpProjetoAfterPesq(sender); };

    auto qtTempo = [this](TField &field, QString &text, bool display) {
        cdsConcAtivProjQTTEMPLAITARGetText(field, text, display);
    };
    auto percAtividade = [this](TField &field, QString &text, bool display) {
        cdsConcAtivProjVRPERCCONCLGetText(field, text, display);
    };
    auto percApropriacao = [this](TField &field, QString &text, bool display) {
        cdsApropriaCSAVRPERCCONCLGetText(field, text, display);
    };
    cdsConcAtivProjQTTEMPLAITAR->OnGetText = qtTempo;
    cdsAtivProjQTTEMPLAITAR->OnGetText = qtTempo;
    cdsConcAtivProjVRPERCCONCL->OnGetText = percAtividade;
    cdsAtivProjVRPERCCONCL->OnGetText = percAtividade;
    cdsApropriaCSAVRPERCCONCL->OnGetText = percApropriacao;
    cdsCSAAuxVRPERCCONCL->OnGetText = percApropriacao;

    // The activity grid, approving and the percentage.
    dbgPadrao->OnDrawColumnCell = [this](QObject *sender, const QRect &rect, int dataCol, TColumn *column,
                                         int state) { dbgPadraoDrawColumnCell(sender, rect, dataCol, column, state); };
    dbgPadrao->OnCellClick = [this](TColumn *column) { dbgPadraoCellClick(column); };
    // The mark column shows pictures: screen readers get their meaning.
    dbgPadrao->OnAccessibleText = [this](TColumn *column, QString &text) {
        if (!column || column->FieldName() != cdsConcAtivProjIDCHECK->FieldName())
            return;
        const TImage *icone = IconeMarca();
        text = icone == imgChecked     ? QStringLiteral("marcada")
               : icone == imgUnchecked ? QStringLiteral("desmarcada")
                                       : QStringLiteral("não pode ser marcada");
    };
    dbgPadrao->OnTitleClick = [this](TColumn *column) { dbgPadraoTitleClick(column); };
    dbgPadrao->OnColEnter = [this](QObject *sender) { dbgPadraoColEnter(sender); };
    // Leaving the list (for the header, the bookings or any other control)
    // sends a percentage still being typed, as a row move does; a failure
    // keeps the user on the row.
    dbgPadrao->OnExit = [this](QObject *) {
        if (cdsConcAtivProj->Active())
            AssentaPercentual();
    };
    cdsConcAtivProj->AfterScroll = [this](TClientDataSet &dataSet) { cdsConcAtivProjAfterScroll(dataSet); };
    cdsConcAtivProj->AfterPost = [this](TClientDataSet &dataSet) { cdsConcAtivProjAfterPost(dataSet); };
    sbtConcluir->OnClick = [this](QObject *sender) { sbtConcluirClick(sender); };
    mnuConcluir->OnClick = [this](QObject *sender) { sbtConcluirClick(sender); };
    // Every new content of the project's bookings, whoever fetched it.
    connect(cdsCSAAux, &TClientDataSet::dataSetChanged, this, [this] { IndexaApropriacoes(); });
}

void TfrmConcAtivProj::EnquadraNaArea()
{
    QMdiSubWindow *janela = SubWindow();
    QMdiArea *area = janela ? janela->mdiArea() : nullptr;
    if (!area || janela->isMinimized() || janela->isMaximized())
        return;
    // The room the area offers once it needs no scroll bars: a window that fits
    // there makes them go away after the move.
    QSize espaco = area->viewport()->size();
    if (area->verticalScrollBar()->isVisible())
        espaco.rwidth() += area->verticalScrollBar()->width();
    if (area->horizontalScrollBar()->isVisible())
        espaco.rheight() += area->horizontalScrollBar()->height();
    const QRect atual = janela->geometry();
    const int x = qBound(0, atual.x(), qMax(0, espaco.width() - atual.width()));
    const int y = qBound(0, atual.y(), qMax(0, espaco.height() - atual.height()));
    if (x != atual.x() || y != atual.y())
        janela->move(x, y);
}

void TfrmConcAtivProj::resizeEvent(QResizeEvent *event)
{
    TfrmPadraoGrid::resizeEvent(event);
    AjustaAcompanhamento();
}

void TfrmConcAtivProj::AjustaAcompanhamento()
{
    if (!lblVrStatus) // a resize while the form is still being built
        return;
    // Summary values keep their places steady while short or empty, and
    // widen for longer texts.
    const QPair<TLabel *, int> valores[] = {{lblVrHrPlan, 48}, {lblVrHrReal, 48}, {lblVrPlanXRel, 34},
                                            {lblVrConcCrono, 34}};
    for (const auto &[valor, piso] : valores)
        valor->setMinimumWidth(qMax(piso, valor->sizeHint().width()));
    // A changed text invalidates only the outer layout; the rows keep their
    // old sizes until told.
    for (QLayout *linha : grbAcomProj->findChildren<QLayout *>())
        linha->invalidate();
    grbAcomProj->layout()->invalidate();
    // The tracking box runs to the panel's right edge when the window is wider,
    // and never gets narrower than its captions and values need: squeezed, the
    // layout would cut the ends off the captions.
    const int largura = qMax(qMax(654, panFiltroProj->width() - grbAcomProj->x() - 6),
                             grbAcomProj->minimumSizeHint().width());
    grbAcomProj->resize(largura, grbAcomProj->height());
}

// --- lifecycle ---

void TfrmConcAtivProj::FormCreate(QObject *sender)
{
    TfrmPadraoGrid::FormCreate(sender);
    netConcAtivProj->SetConnected(true);
}

void TfrmConcAtivProj::FormClose(QObject *sender, TCloseAction &action)
{
    // A percentage being typed is sent as a row move would send it; when that
    // fails the screen stays open on it.
    if (cdsConcAtivProj->Active())
        AssentaPercentual();
    netConcAtivProj->SetConnected(false);
    TfrmPadraoGrid::FormClose(sender, action);
}

void TfrmConcAtivProj::FormActivate(QObject *)
{
    if (!cdsConcAtivProj->Active())
        edtCDFILIAL->SetFocus();
}

void TfrmConcAtivProj::netConcAtivProjBeforeConnect(QObject *)
{
    // Read afresh at every connect: the host may point at another server.
    netConcAtivProj->SetHost(WebURL());
    netConcAtivProj->SetPort(WebPort());
}

QJsonValue TfrmConcAtivProj::ChamaServidor(const QString &method, const QList<RemoteArg> &args)
{
    return ConfereServidor(method, netConcAtivProj->AppServer().call(method, args));
}

QJsonValue TfrmConcAtivProj::ConfereServidor(const QString &method, const QJsonValue &resultado)
{
    const QJsonObject erro = resultado.toObject().value(QLatin1String("error")).toObject();
    if (erro.isEmpty()) {
        // The server answers again after a write whose outcome was unknown:
        // the list is read again once the running handler is over.
        if (m_releituraPendente && !m_releituraAgendada)
            AgendaReleitura(0);
    } else if (erro.value(QLatin1String("code")).toInt() == TNetConnection::ErrTimeout
               && (method == QLatin1String("setAprovaAtividades") || method == QLatin1String("SetAtualizaConcCSA"))) {
        // The request may have been applied after the host gave up on it.
        m_releituraPendente = true;
        MensErro(erro.value(QLatin1String("message")).toString()
                     + QStringLiteral("\n\nNão se sabe se a gravação foi feita. A lista de atividades será lida de "
                                      "novo assim que o servidor responder; confira-a antes de repetir a operação."),
                 true);
    }
    return CheckResultServ(resultado, true, 0);
}

void TfrmConcAtivProj::AgendaReleitura(int espera)
{
    m_releituraAgendada = true;
    QTimer::singleShot(espera, this, [this] {
        m_releituraAgendada = false;
        // Not inside another call's wait: after it.
        if (TNetConnection::CallRunning()) {
            AgendaReleitura(100);
            return;
        }
        runGuarded([this] { ReleListaPendente(); });
    });
}

void TfrmConcAtivProj::ReleListaPendente()
{
    // Only a list in browse state is replaced: a row being edited is the
    // user's, and the next write re-reads it anyway.
    if (!m_releituraPendente || !cdsConcAtivProj->Active() || dtsPadrao->state() != TDataSource::dsBrowse
        || QApplication::activeModalWidget())
        return;
    m_releituraPendente = false;
    try {
        RecarregaComResumo(ChaveAtual(), {});
    } catch (...) {
        m_releituraPendente = true;
        throw;
    }
}

void TfrmConcAtivProj::Esvazia(TClientDataSet *dataSet)
{
    DataPacket empty;
    for (const auto &field : dataSet->Fields())
        empty.fields.append({field->FieldName(), field->DataType(), field->Size()});
    dataSet->SetData(empty);
}

// --- branch and project selection ---

void TfrmConcAtivProj::vd_CDFILIAL(bool obrigatorio)
{
    try {
        if (EmptyString(edtCDFILIAL->Text())) {
            if (!obrigatorio)
                return;
            MensErro(msgPadrao->Msg(QStringLiteral("FILINF")), true);
        }
        edtCDFILIAL->SetText(Ajusta(edtCDFILIAL->Text(), 4));
        qryFilial->Close();
        qryFilial->ParamByName(QStringLiteral("P_CDFILIAL"))->SetAsString(edtCDFILIAL->Text());
        qryFilial->ParamByName(QStringLiteral("P_TCDFILIAL"))->SetAsString(QString());
        qryFilial->Open();
        if (qryFilial->IsEmpty())
            MensErro(msgPadrao->Msg(QStringLiteral("FILNCAD")), true);
        edtNMFILIAL->SetText(qryFilialNMFILIAL->AsString());
    } catch (...) {
        edtCDFILIAL->SetFocus();
        throw;
    }
}

void TfrmConcAtivProj::vd_CDPROJETO(bool obrigatorio)
{
    bool manterCodigo = false;
    try {
        if (EmptyString(edtCDPROJETO->Text())) {
            if (!obrigatorio)
                return;
            MensErro(msgPadrao->Msg(QStringLiteral("PROINF")), true);
        }
        edtCDPROJETO->SetText(Ajusta(edtCDPROJETO->Text(), 10));
        try {
            ShowAviScope espera(app()->MainForm(), 6);
            cdsProjeto->SetData(ChamaServidor(QStringLiteral("getProjeto"),
                                              {edtCDFILIAL->Text(), edtCDPROJETO->Text(), QString()}));
        } catch (...) {
            // The server could not answer: the code typed is kept for a retry.
            manterCodigo = true;
            throw;
        }
        if (cdsProjeto->IsEmpty())
            MensErro(msgPadrao->Msg(QStringLiteral("PRONCAD")), true);
        edtNMPROJETO->SetText(cdsProjetoNMPROJETO->AsString());
    } catch (...) {
        if (!manterCodigo)
            edtCDPROJETO->SetText(QString());
        edtCDPROJETO->SetFocus();
        throw;
    }
}

bool TfrmConcAtivProj::SaindoDaJanela() const
{
    // Hiding or minimising the window hands the focus on to whatever control
    // comes next; that is no move of the user's between controls.
    return !isVisible();
}

void TfrmConcAtivProj::edtCDFILIALExit(QObject *)
{
    if (SaindoDaJanela())
        return;
    vd_CDFILIAL(true);
}

void TfrmConcAtivProj::edtCDFILIALChange(QObject *)
{
    // Another branch: the project chosen for the old one no longer applies.
    edtCDPROJETO->SetText(QString());
    edtNMPROJETO->SetText(QString());
}

void TfrmConcAtivProj::edtCDFILIALKeyPress(QObject *, QChar &key)
{
    if (key == QChar(8) && !edtNMFILIAL->Text().isEmpty())
        edtNMFILIAL->SetText(QString());
}

void TfrmConcAtivProj::edtCDPROJETOChange(QObject *)
{
    if (!EmptyString(edtNMPROJETO->Text()))
        edtNMPROJETO->SetText(QString());
}

void TfrmConcAtivProj::edtCDPROJETOKeyPress(QObject *, QChar &key)
{
    if (key >= QLatin1Char('a') && key <= QLatin1Char('z'))
        key = QChar(key.unicode() - 'a' + 'A');
}

void TfrmConcAtivProj::btpFilialBeforePesq(QObject *, bool &)
{
    FechaLista();
    qryFilial->Close();
    qryFilial->ParamByName(QStringLiteral("P_CDFILIAL"))->SetAsString(QString());
    qryFilial->ParamByName(QStringLiteral("P_TCDFILIAL"))->SetAsString(QStringLiteral("T"));
    qryFilial->Open();
}

void TfrmConcAtivProj::FechaLista()
{
    if (!cdsConcAtivProj->Active())
        return;
    // A percentage still being typed is sent before the list goes.
    AssentaPercentual();
    cdsConcAtivProj->Close();
}

void TfrmConcAtivProj::btpFilialAfterPesq(QObject *)
{
    edtNMFILIAL->SetText(qryFilialNMFILIAL->AsString());
    edtCDFILIAL->SetText(qryFilialCDFILIAL->AsString());
}

void TfrmConcAtivProj::btpProjetoBeforePesq(QObject *, bool &)
{
    FechaLista();
    cdsProjeto->SetData(ChamaServidor(QStringLiteral("getProjeto"),
                                      {edtCDFILIAL->Text(), QString(), QStringLiteral("T")}));
    if (cdsProjeto->IsEmpty())
        MensErro(msgPadrao->Msg(QStringLiteral("P_NCADFIL")), true);
}

void TfrmConcAtivProj::btpProjetoAfterPesq(QObject *)
{
    // Code first: its change handler wipes the old name before the new one lands.
    edtCDPROJETO->SetText(cdsProjetoCDPROJETO->AsString());
    edtNMPROJETO->SetText(cdsProjetoNMPROJETO->AsString());
}

void TfrmConcAtivProj::panFiltroProjEnter(QObject *)
{
    if (SaindoDaJanela() || !cdsConcAtivProj->Active())
        return;
    cdsConcAtivProj->Close();
    cdsApropriaCSA->Close();
    const bool comAtividades = !cdsConcAtivProj->IsEmpty();
    sbtFiltro->SetEnabled(comAtividades);
    mnuFiltrar->SetEnabled(sbtFiltro->Enabled());
    sbtConcluir->SetEnabled(comAtividades);
    mnuConcluir->SetEnabled(sbtConcluir->Enabled());
    setCommandEnabled(sbtProcurar, comAtividades);
    setCommandEnabled(sbtVerificar, comAtividades);
    cdsPlanProj->Close();
    cdsPlanCSA->Close();
    for (TLabel *valor : {lblVrHrPlan, lblVrHrReal, lblVrPlanXRel, lblVrConcCrono, lblVrStatus})
        valor->SetCaption(QString());
    AjustaAcompanhamento();
}

// --- the load ---

void TfrmConcAtivProj::CarregaAtividades()
{
    // Once the filter dialog exists, every load and reload goes through its
    // current criteria, cancelled changes included.
    if (frmFiltroConcAtivProj) {
        try {
            frmFiltroConcAtivProj->sbtConfirmaClick(frmFiltroConcAtivProj);
        } catch (...) {
            // A refusal by the dialog's own checks must not lock the user out
            // of the dialog that can correct them.
            if (frmFiltroConcAtivProj->CriteriosRecusados())
                LiberaFiltro();
            throw;
        }
        m_filtroLiberado = false;
        m_releituraPendente = false; // the list is what the server holds now
        return;
    }
    cdsConcAtivProj->SetData(
        ChamaServidor(QStringLiteral("getConcAtivPro"), {edtCDFILIAL->Text(), edtCDPROJETO->Text()}));
    m_releituraPendente = false;
}

void TfrmConcAtivProj::LiberaFiltro()
{
    m_filtroLiberado = true;
    sbtFiltro->SetEnabled(dtsPadrao->state() != TDataSource::dsEdit);
    mnuFiltrar->SetEnabled(sbtFiltro->Enabled());
}

void TfrmConcAtivProj::sbtFiltroClick(QObject *)
{
    CriaFiltroConcAtivProj();
    if (ActiveControl() != dbgPadrao)
        SetActiveControl(dbgPadrao);
}

void TfrmConcAtivProj::panFiltroProjExit(QObject *)
{
    if (SaindoDaJanela())
        return;
    vd_CDPROJETO(true);
    sbtFiltro->SetEnabled(true);
    mnuFiltrar->SetEnabled(sbtFiltro->Enabled());
    ShowAviScope espera(app()->MainForm(), 6);
    CarregaAtividades();
    CarregaApropriacoes();
    const auto [filial, projeto] = ProjetoDaLista();
    cdsCSAAux->SetData(ChamaServidor(QStringLiteral("getCSAAux"), {filial, projeto}));
    CarregaPlanejamento(filial, projeto);
    // A load started from the keyboard goes on in the activity list.
    if (QApplication::focusWidget() != dbgPadrao && !dbgPadrao->isAncestorOf(QApplication::focusWidget()))
        dbgPadrao->SetFocus();
}

void TfrmConcAtivProj::MostraAcompanhamento()
{
    lblVrHrPlan->SetCaption(cdsPlanProjNRHORASPLAN->AsString());
    lblVrHrReal->SetCaption(cdsPlanCSANRHORASAPROPRIA->AsString());

    const double divisor = cdsPlanProjNRDIASITCRPJ->AsFloat();
    double realizado = 0;
    if (divisor != 0)
        realizado = cdsPlanCSAAPROPRIADO->AsFloat() / divisor * 100;
    lblVrPlanXRel->SetCaption(FormatFloat(QStringLiteral("0"), realizado) + QLatin1Char('%'));

    const double cronograma = cdsPlanProjVRPERCONCPRJ->AsFloat();
    lblVrConcCrono->SetCaption(FormatFloat(QStringLiteral("0"), cronograma) + QLatin1Char('%'));

    const double diferenca = cronograma - realizado;
    QString status = FormatFloat(QStringLiteral("0"), diferenca) + QLatin1Char('%');
    // The two percentages come from different divisions (one on the server):
    // a project exactly on schedule can differ by the last bits of a double.
    // Anything that small is no difference; a real one, however small, counts.
    const double ruido = 1e-9 * qMax(1.0, qMax(std::abs(cronograma), std::abs(realizado)));
    if (diferenca < -ruido)
        status += QStringLiteral(" - Atrasado");
    else if (diferenca <= ruido)
        status += QStringLiteral(" - Em dia");
    else
        status += QStringLiteral(" - Antecipado");
    lblVrStatus->SetCaption(status);
    AjustaAcompanhamento();
}

// --- field text hooks ---

void TfrmConcAtivProj::cdsConcAtivProjQTTEMPLAITARGetText(TField &, QString &text, bool)
{
    const QString plain = cdsConcAtivProjQTTEMPLAITAR->AsString();
    if (EmptyString(plain)) {
        text = QString();
        return;
    }
    // Hours as H:MM:SS, every part truncated, worked out from the plain text in
    // extended precision so that 2.05 h reads 02:02:59 as it always has.
    QByteArray digits = plain.toLatin1();
    digits.replace(Workstation::decimalSeparator().toLatin1(), '.');
    long double v = 0;
    const char *begin = digits.constData();
    if (std::from_chars(begin, begin + digits.size(), v).ec != std::errc()) {
        text = plain;
        return;
    }
    const long double h = std::trunc(v);
    const long double f = v - h;
    const long double m = std::trunc(f * 60);
    const long double s = std::trunc((f - m / 60) * 3600);
    auto part = [](long double value) { return Ajusta(QString::number(qint64(value)), 2); };
    text = part(h) + QLatin1Char(':') + part(m) + QLatin1Char(':') + part(s);
}

void TfrmConcAtivProj::cdsConcAtivProjVRPERCCONCLGetText(TField &, QString &text, bool)
{
    const QString plain = cdsConcAtivProjVRPERCCONCL->AsString();
    text = EmptyString(plain) ? QString() : plain + QLatin1Char('%');
}

void TfrmConcAtivProj::cdsApropriaCSAVRPERCCONCLGetText(TField &, QString &text, bool)
{
    const QString plain = cdsApropriaCSAVRPERCCONCL->AsString();
    text = EmptyString(plain) ? QString() : plain + QLatin1Char('%');
}

// --- the activity grid ---

namespace {

const QString kIDCHECK = QStringLiteral("IDCHECK");
const QString kVRPERCCONCL = QStringLiteral("VRPERCCONCL");

QString chaveAtividade(const QString &tarefa, const QString &atividade)
{
    // A unit separator cannot occur in a typed code, so no two keys run together.
    return tarefa + QChar(0x1F) + atividade;
}

bool ehDigito(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QString campoSelecionado(const TDBGrid *grid)
{
    const TField *field = grid->SelectedField();
    return field ? field->FieldName() : QString();
}

} // namespace

bool TfrmConcAtivProj::Responsavel() const
{
    return cdsProjetoCDOPERESPRJ->AsString() == Operador();
}

void TfrmConcAtivProj::IndexaApropriacoes()
{
    m_apropriacoes.clear();
    if (!cdsCSAAux->Active())
        return;
    const int tarefa = cdsCSAAux->fieldIndex(QStringLiteral("NRTAREFA"));
    const int atividade = cdsCSAAux->fieldIndex(QStringLiteral("NRPLATIVTARE"));
    const int linhas = cdsCSAAux->RecordCount();
    // The bookings come grouped by activity: one key per group, not one per
    // booking (a large project has hundreds of thousands of bookings).
    QString tarefaAnterior, atividadeAnterior;
    for (int linha = 0; linha < linhas; ++linha) {
        QString nrTarefa = cdsCSAAux->valueAt(linha, tarefa).toString();
        QString nrAtividade = cdsCSAAux->valueAt(linha, atividade).toString();
        if (linha > 0 && nrTarefa == tarefaAnterior && nrAtividade == atividadeAnterior)
            continue;
        m_apropriacoes.insert(chaveAtividade(nrTarefa, nrAtividade));
        tarefaAnterior = std::move(nrTarefa);
        atividadeAnterior = std::move(nrAtividade);
    }
}

bool TfrmConcAtivProj::TemApropriacoes(const QString &tarefa, const QString &atividade) const
{
    // Answered from the index: painting and marking look up one key instead of
    // filtering every booking of the project, and a quote in a key is just a
    // character.
    return m_apropriacoes.contains(chaveAtividade(tarefa, atividade));
}

const TImage *TfrmConcAtivProj::IconeMarca() const
{
    if (cdsConcAtivProjSITUACAO->AsString() != QLatin1String("A")
        || !TemApropriacoes(cdsConcAtivProjNRTAREFA->AsString(), cdsConcAtivProjNRPLATIVTARE->AsString()))
        return imgGrayCheck;
    return cdsConcAtivProjIDCHECK->AsString() == QLatin1String("S") ? imgChecked : imgUnchecked;
}

void TfrmConcAtivProj::dbgPadraoDrawColumnCell(QObject *, const QRect &rect, int, TColumn *column, int state)
{
    if (cdsConcAtivProj->IsEmpty() || !column)
        return;
    TCanvas *canvas = dbgPadrao->Canvas();
    if (!canvas)
        return;
    const QString situacao = cdsConcAtivProjSITUACAO->AsString();
    auto copiaIcone = [canvas, &rect](const TImage *icone, int left) {
        const int largura = icone->PictureWidth();
        canvas->BrushCopy(QRect(left, rect.top(), largura, rect.height()), icone->Picture(),
                          QRect(0, 0, largura, rect.height()));
    };

    if (column->FieldName() == kIDCHECK) {
        canvas->FillRect(rect);
        copiaIcone(IconeMarca(), rect.left() + 1);
        return;
    }

    // An empty date reads as earlier than any real one.
    const QDateTime ultima = cdsConcAtivProjDTINIULTATIV->AsDateTime();
    const QDateTime aprovacao = cdsConcAtivProjDTHRAPROVATIVTA->AsDateTime();
    const bool alerta = ultima.isValid() && (!aprovacao.isValid() || ultima > aprovacao);
    const bool concluida = situacao == QLatin1String("C");
    if (!alerta && !concluida)
        return;
    canvas->FillRect(rect);
    // On the selection the highlight's own text colour stays readable.
    if (!(state & gdSelected))
        canvas->Font.Color = concluida ? clGray : clGreen;
    const TField *field = column->Field();
    canvas->TextRect(rect, rect.left() + 2, rect.top() + 2, field ? field->DisplayText() : QString());
    if (alerta && column->FieldName() == QLatin1String("DESCRICAO"))
        copiaIcone(imgAlerta, rect.left() + rect.width() - imgAlerta->PictureWidth());
}

void TfrmConcAtivProj::dbgPadraoCellClick(TColumn *column)
{
    AlternaMarca(column);
}

void TfrmConcAtivProj::AlternaMarca(TColumn *column)
{
    if (cdsConcAtivProj->Active() && !cdsConcAtivProj->IsEmpty() && column && column->FieldName() == kIDCHECK
        && !cdsApropriaCSA->IsEmpty()) {
        cdsConcAtivProj->Edit();
        if (cdsConcAtivProjIDCHECK->AsString() == QLatin1String("N")) {
            cdsConcAtivProjIDCHECK->SetAsString(QStringLiteral("S"));
            if (Responsavel()) {
                sbtConcluir->SetEnabled(true);
                mnuConcluir->SetEnabled(sbtConcluir->Enabled());
            }
        } else {
            cdsConcAtivProjIDCHECK->SetAsString(QStringLiteral("N"));
        }
        cdsConcAtivProj->Post();
    }
    vd_IDCHECK();
}

void TfrmConcAtivProj::dbgPadraoTitleClick(TColumn *column)
{
    if (!column || column->Grid() != dbgPadrao || column->FieldName() != kIDCHECK)
        return;
    // A percentage still being typed is settled first, as any other move would
    // settle it: a reload it causes must come before the walk, not under it.
    if (!dbgPadrao->commitEditor())
        throw EAbort();
    cdsConcAtivProj->CheckBrowseMode();

    cdsAtivProj->SetData(cdsConcAtivProj->Data());
    auto semFiltro = onScopeExit([this] { cdsAtivProj->SetFiltered(false); });
    cdsAtivProj->SetFilter(QStringLiteral("DTINPATIVTAR IS NOT NULL"));
    cdsAtivProj->SetFiltered(true);
    if (cdsAtivProj->IsEmpty())
        return;

    QString marca;
    if (cdsAtivProjIDCHECK->AsString() == QLatin1String("N")) {
        marca = QStringLiteral("S");
        if (Responsavel()) {
            sbtConcluir->SetEnabled(true);
            mnuConcluir->SetEnabled(sbtConcluir->Enabled());
        }
    } else {
        marca = QStringLiteral("N");
        if (Responsavel()) {
            sbtConcluir->SetEnabled(false);
            mnuConcluir->SetEnabled(sbtConcluir->Enabled());
        }
    }
    if (!cdsConcAtivProj->Active() || cdsConcAtivProj->IsEmpty())
        return;

    {
        // The walk's own moves fetch no bookings (one round trip per activity
        // otherwise) and its posts send no percentage; the activity current at
        // the end gets its bookings once, below.
        cdsConcAtivProj->DisableControls();
        m_adiaApropriacoes = true;
        m_marcandoTodas = true;
        auto fim = onScopeExit([this] {
            m_marcandoTodas = false;
            m_adiaApropriacoes = false;
            cdsConcAtivProj->EnableControls();
        });
        cdsConcAtivProj->First();
        while (!cdsConcAtivProj->Eof()) {
            if (TemApropriacoes(cdsConcAtivProjNRTAREFA->AsString(), cdsConcAtivProjNRPLATIVTARE->AsString())) {
                cdsConcAtivProj->Edit();
                cdsConcAtivProj->FieldByName(kIDCHECK)->SetAsString(marca);
                cdsConcAtivProj->Post();
            }
            cdsConcAtivProj->Next();
        }
        cdsConcAtivProj->First();
    }
    cdsConcAtivProjAfterScroll(*cdsConcAtivProj);
}

void TfrmConcAtivProj::dbgPadraoKeyDown(QObject *sender, int &key, Qt::KeyboardModifiers shift)
{
    TfrmPadraoGrid::dbgPadraoKeyDown(sender, key, shift);
    if (key == Vk::Insert || (key == Vk::Delete && (shift & Qt::ControlModifier)))
        key = 0;
}

void TfrmConcAtivProj::dbgPadraoKeyPress(QObject *sender, QChar &key)
{
    TfrmPadraoGrid::dbgPadraoKeyPress(sender, key);
    if (campoSelecionado(dbgPadrao) == kIDCHECK && key == QLatin1Char(' '))
        AlternaMarca(dbgPadrao->Columns(IndiceCol(dbgPadrao, kIDCHECK)));
    if (campoSelecionado(dbgPadrao) != kVRPERCCONCL)
        return;

    // The point and the keypad's decimal key write the decimal comma: a user
    // who types 8.5 means eight and a half, never 85.
    const QChar decimal = Workstation::decimalSeparator();
    if (key == QLatin1Char('.') || key == QLatin1Char(','))
        key = decimal;
    if (dtsPadrao->state() == TDataSource::dsBrowse && PercentualEditavel()) {
        // Only a digit or the comma begins a new value: Enter, Tab, Backspace
        // and the like move or do nothing, and never leave an emptied
        // percentage behind.
        if (!ehDigito(key) && key != decimal) {
            if (!key.isNull() && key.unicode() >= 32)
                key = QChar();
            return;
        }
        cdsConcAtivProj->Edit();
        cdsConcAtivProjVRPERCCONCL->Clear();
        if (QLineEdit *editor = dbgPadrao->InplaceEditor())
            editor->clear();
    }
    if (key == QLatin1Char('-'))
        key = QChar();
    Vd_Virgula(dbgPadrao, kVRPERCCONCL, key);
}

void TfrmConcAtivProj::Vd_Virgula(TDBGrid *grid, const QString &fieldName, QChar &key)
{
    const QChar decimal = Workstation::decimalSeparator();
    if (campoSelecionado(grid) == fieldName && key == decimal) {
        // What the comma is added to: a selection is replaced by typing, and
        // with no editor open the key begins a fresh value.
        const QString texto = GridText(grid, fieldName, true);
        if (texto.isEmpty()) {
            // A value never starts with a comma: ",5" is "0,5".
            if (!grid->InplaceEditor())
                grid->SetEditorMode(true);
            if (QLineEdit *editor = grid->InplaceEditor()) {
                editor->setText(QStringLiteral("0") + decimal);
                editor->setCursorPosition(editor->text().size());
            }
            key = QChar();
            return;
        }
        if (texto.count(decimal) > 0)
            key = QChar();
    }
    if (!ehDigito(key))
        return;
    // A text that no longer reads as a number (a "%" left in the cell) takes
    // no more digits either.
    double valor = 0;
    if (!TryStrToFloat(GridText(grid, fieldName, true) + key, &valor) || valor > 100)
        key = QChar();
}

bool TfrmConcAtivProj::PercentualEditavel() const
{
    return !cdsApropriaCSA->IsEmpty() && Responsavel() && campoSelecionado(dbgPadrao) == kVRPERCCONCL;
}

void TfrmConcAtivProj::dbgPadraoColEnter(QObject *)
{
    dbgPadrao->SetOption(dgEditing, PercentualEditavel());
}

void TfrmConcAtivProj::vd_IDCHECK()
{
    // The screen owns the scratch copy, so that nothing leaks if a step fails.
    std::unique_ptr<TClientDataSet> marcadas(new TClientDataSet(this));
    marcadas->AddField(kIDCHECK, TFieldType::FixedString, 1);
    marcadas->SetData(cdsConcAtivProj->Data());
    marcadas->DisableControls();
    marcadas->SetFilter(QStringLiteral("IDCHECK = 'S'"));
    marcadas->SetFiltered(true);
    if (Responsavel()) {
        sbtConcluir->SetEnabled(!marcadas->IsEmpty());
        mnuConcluir->SetEnabled(sbtConcluir->Enabled());
    }
}

std::pair<QString, QString> TfrmConcAtivProj::ProjetoDaLista() const
{
    // An empty list carries no keys: the project's bookings and planning are
    // still the header's project.
    if (cdsConcAtivProj->IsEmpty())
        return {edtCDFILIAL->Text(), edtCDPROJETO->Text()};
    return {cdsConcAtivProjCDFILIAL->AsString(), cdsConcAtivProjCDPROJETO->AsString()};
}

void TfrmConcAtivProj::CarregaApropriacoes()
{
    // Editability and command states follow the bookings shown, also when
    // they could not be fetched (then there are none to edit against).
    auto estados = onScopeExit([this] {
        dbgPadraoColEnter(dbgPadrao);
        dtsPadraoStateChange(dtsPadrao);
    });
    if (cdsConcAtivProj->IsEmpty()) {
        Esvazia(cdsApropriaCSA);
        return;
    }
    ShowAviScope espera(app()->MainForm(), 6);
    // On a failure the bookings shown must not be another activity's.
    auto esvazia = onScopeExit([this] { Esvazia(cdsApropriaCSA); });
    cdsApropriaCSA->SetData(ChamaServidor(QStringLiteral("getApropriaCSA"),
                                          {cdsConcAtivProjCDFILIAL->AsString(), cdsConcAtivProjCDPROJETO->AsString(),
                                           cdsConcAtivProjNRTAREFA->AsString(),
                                           cdsConcAtivProjNRPLATIVTARE->AsString()}));
    esvazia.dismiss();
}

void TfrmConcAtivProj::cdsConcAtivProjAfterScroll(TClientDataSet &)
{
    if (m_adiaApropriacoes)
        return;
    CarregaApropriacoes();
}

void TfrmConcAtivProj::RestauraPercentual()
{
    m_restaurando = true;
    auto fim = onScopeExit([this] { m_restaurando = false; });
    cdsConcAtivProj->Edit();
    cdsConcAtivProjVRPERCCONCL->SetValue(cdsConcAtivProjVRPERCCONCL->OldValue());
    cdsConcAtivProj->Post();
}

void TfrmConcAtivProj::cdsConcAtivProjAfterPost(TClientDataSet &)
{
    if (m_restaurando)
        return;
    const QVariant antes = cdsConcAtivProjVRPERCCONCL->OldValue();
    const bool semAntes = !antes.isValid() || antes.isNull();
    const bool semAgora = cdsConcAtivProjVRPERCCONCL->IsNull();
    // An emptied percentage was never meant as a value: the old one comes back.
    if (semAgora) {
        if (!semAntes)
            RestauraPercentual();
        return;
    }
    const double agora = cdsConcAtivProjVRPERCCONCL->AsFloat();
    if (!semAntes && antes.toDouble() == agora)
        return;
    // A value the keys would have refused (pasted, or typed by another way).
    if (agora < 0 || agora > 100 || std::isnan(agora)) {
        RestauraPercentual();
        // The table holds the lower bound's message; the upper one has none.
        MensErro(agora < 0 ? msgPadrao->Msg(QStringLiteral("PERC_MENOR"))
                           : QStringLiteral("Percentual de conclusão deve ser menor ou igual a 100."),
                 true);
    }
    if (campoSelecionado(dbgPadrao) == kIDCHECK || m_marcandoTodas)
        return;
    // Where the cursor goes after the reload: the activity the user was moving
    // to, else the one just posted, found again by their keys.
    const QVariantList postada = ChaveAtual();
    const int alvo = dbgPadrao->MoveTargetRow();
    const QVariantList destino = alvo >= 0 && alvo < cdsConcAtivProj->RecordCount() ? ChaveDaLinha(alvo)
                                                                                      : QVariantList();
    try {
        ChamaServidor(QStringLiteral("SetAtualizaConcCSA"),
                      {cdsConcAtivProjCDFILIAL->AsString(), cdsConcAtivProjCDPROJETO->AsString(),
                       cdsConcAtivProjNRBASELINEPR->AsString(), cdsConcAtivProjCDVERCRONPRJ->AsString(),
                       cdsConcAtivProjCDSEQCRONPRJ->AsString(), cdsConcAtivProjVRPERCCONCL->AsString()});
    } catch (...) {
        // Not stored: the row goes back to being edited with what was typed,
        // so that the user can send it again or cancel it.
        const QVariant digitado = cdsConcAtivProjVRPERCCONCL->Value();
        RestauraPercentual();
        cdsConcAtivProj->Edit();
        cdsConcAtivProjVRPERCCONCL->SetValue(digitado);
        throw;
    }
    if (m_adiaRecarga)
        return; // the caller reloads once, after its own request
    RecarregaComResumo(destino, postada);
}

QVariantList TfrmConcAtivProj::ChaveDaLinha(int linha) const
{
    QVariantList chave;
    for (const QString &campo : kChaveAtividade)
        chave << cdsConcAtivProj->valueAt(linha, cdsConcAtivProj->fieldIndex(campo));
    return chave;
}

QVariantList TfrmConcAtivProj::ChaveAtual() const
{
    if (cdsConcAtivProj->IsEmpty())
        return {};
    return ChaveDaLinha(cdsConcAtivProj->currentIndex());
}

void TfrmConcAtivProj::RecarregaComResumo(const QVariantList &destino, const QVariantList &alternativa)
{
    {
        ShowAviScope espera(app()->MainForm(), 6);
        {
            // The list's own moves fetch no bookings: the activity the cursor
            // ends on gets them once, below.
            m_adiaApropriacoes = true;
            auto fim = onScopeExit([this] { m_adiaApropriacoes = false; });
            CarregaAtividades();
            if (!cdsConcAtivProj->IsEmpty()) {
                const bool achou = (!destino.isEmpty() && cdsConcAtivProj->Locate(kChaveAtividade, destino))
                                   || (!alternativa.isEmpty() && cdsConcAtivProj->Locate(kChaveAtividade, alternativa));
                if (!achou)
                    cdsConcAtivProj->First();
            }
        }
        CarregaApropriacoes();
        const auto [filial, projeto] = ProjetoDaLista();
        cdsCSAAux->SetData(ChamaServidor(QStringLiteral("getCSAAux"), {filial, projeto}));
        CarregaPlanejamento(filial, projeto);
    }
    vd_IDCHECK();
}

void TfrmConcAtivProj::CarregaPlanejamento(const QString &filial, const QString &projeto)
{
    const QJsonArray planejamento = ChamaServidor(QStringLiteral("getPlanProj"), {filial, projeto}).toArray();
    cdsPlanProj->SetData(planejamento.at(0));
    cdsPlanCSA->SetData(planejamento.at(1));
    MostraAcompanhamento();
}

void TfrmConcAtivProj::AssentaPercentual()
{
    // The text still in the cell editor belongs to the row; a refused text
    // (already reported) keeps the user there.
    if (!dbgPadrao->commitEditor())
        throw EAbort();
    cdsConcAtivProj->CheckBrowseMode();
}

// --- approving, verifying, editing, command states ---

void TfrmConcAtivProj::RecarregaAtividades()
{
    CarregaAtividades();
    CarregaApropriacoes();
    const auto [filial, projeto] = ProjetoDaLista();
    cdsCSAAux->SetData(ChamaServidor(QStringLiteral("getCSAAux"), {filial, projeto}));
}

void TfrmConcAtivProj::sbtConcluirClick(QObject *)
{
    // A percentage still being typed is stored before the marks are read;
    // its reload waits for the approval, so that the marks it would clear are
    // still there to send.
    {
        m_adiaRecarga = true;
        auto fim = onScopeExit([this] { m_adiaRecarga = false; });
        AssentaPercentual();
    }
    if (m_releituraPendente) {
        // The last write's outcome is unknown: the user decides on what the
        // server holds, not on what the screen showed before.
        m_releituraPendente = false;
        RecarregaComResumo(ChaveAtual(), {});
        MensErro(QStringLiteral("A lista de atividades foi lida de novo, porque não se sabia se a última gravação "
                                "tinha sido feita. Confira as atividades e marque de novo as que quer aprovar."),
                 true);
    }
    QJsonValue resposta;
    bool enviou = false;
    {
        const int linha = cdsConcAtivProj->RecNo();
        cdsConcAtivProj->DisableControls();
        // Filtering moves the cursor; those moves are no user's and fetch no
        // bookings. Whatever happens, the filter goes off, the cursor returns
        // to the activity whose bookings are shown and the controls come back.
        m_adiaApropriacoes = true;
        auto reata = onScopeExit([this, linha] {
            auto fim = onScopeExit([this] {
                m_adiaApropriacoes = false;
                cdsConcAtivProj->EnableControls();
            });
            cdsConcAtivProj->SetFiltered(false);
            if (linha > 0 && linha <= cdsConcAtivProj->RecordCount())
                cdsConcAtivProj->SetRecNo(linha);
        });
        cdsConcAtivProj->SetFiltered(false);
        cdsConcAtivProj->SetFilter(QStringLiteral("IDCHECK = 'S'"));
        cdsConcAtivProj->SetFiltered(true);
        if (!cdsConcAtivProj->IsEmpty()) {
            ShowAviScope espera(app()->MainForm(), 6, QStringLiteral("Aprovando atividades..."));
            resposta = netConcAtivProj->AppServer().call(QStringLiteral("setAprovaAtividades"),
                                                         {RemoteArg(cdsConcAtivProj->DeltaJson())});
            enviou = true;
        }
    }
    // Checked with the list whole and painted again: a message about the
    // approval is shown over the list it is about.
    if (enviou)
        ConfereServidor(QStringLiteral("setAprovaAtividades"), resposta);
    RecarregaComResumo({}, {});
}

void TfrmConcAtivProj::sbtVerificarClick(QObject *)
{
    {
        ShowAviScope espera(app()->MainForm(), 6);
        RecarregaAtividades();
    }
    vd_IDCHECK();
}

void TfrmConcAtivProj::sbtAlterarClick(QObject *sender)
{
    TfrmPadraoGrid::sbtAlterarClick(sender);
    if (cdsConcAtivProj->state() != TClientDataSet::State::Edit)
        return;
    dbgPadrao->SetSelectedIndex(IndiceCol(dbgPadrao, kVRPERCCONCL));
    dbgPadrao->SetFocus();
    cdsConcAtivProjVRPERCCONCL->Clear();
    dbgPadrao->SetEditorMode(true);
}

void TfrmConcAtivProj::dtsPadraoStateChange(QObject *sender)
{
    TfrmPadraoGrid::dtsPadraoStateChange(sender);
    if (!sbtFiltro || !cdsApropriaCSA) // a state change while the form is being built
        return;
    const TDataSource::State estado = dtsPadrao->state();
    const bool browse = estado == TDataSource::dsBrowse;
    const bool edicao = estado == TDataSource::dsEdit;
    const bool listaVazia = cdsConcAtivProj->IsEmpty();
    const bool semApropriacoes = cdsApropriaCSA->IsEmpty();

    // Each button with its menu item: the menu offers nothing the tool bar
    // does not. Printing is not offered on this screen.
    setCommandEnabled(sbtProcurar, browse && !listaVazia);
    setCommandEnabled(sbtVerificar, browse && !listaVazia);
    setCommandEnabled(sbtImprimir, false);

    // After a load refused by the filter dialog's checks, the dialog stays
    // within reach to correct them.
    sbtFiltro->SetEnabled(browse || (m_filtroLiberado && estado == TDataSource::dsInactive));

    sbtIncluir->SetEnabled(false);
    sbtAlterar->SetEnabled(browse && !semApropriacoes && Responsavel());
    sbtExcluir->SetEnabled(false);
    sbtCancelar->SetEnabled(edicao);
    sbtConfirmar->SetEnabled(edicao);
    mnuIncluir->SetEnabled(sbtIncluir->Enabled());
    mnuAlterar->SetEnabled(sbtAlterar->Enabled());
    mnuExcluir->SetEnabled(sbtExcluir->Enabled());
    mnuCancelar->SetEnabled(sbtCancelar->Enabled());
    mnuConfirmar->SetEnabled(sbtConfirmar->Enabled());
    mnuFiltrar->SetEnabled(sbtFiltro->Enabled());

    for (TField *field : {cdsConcAtivProjDESCRICAO, cdsConcAtivProjNMOPERADOR, cdsConcAtivProjQTTEMPLAITAR,
                          cdsConcAtivProjDTINPATIVTAR, cdsConcAtivProjDTFIPATIVTAR})
        field->ReadOnly = true;
}
