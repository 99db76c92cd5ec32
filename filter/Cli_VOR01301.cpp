#include "Cli_VOR01301.h"
#include "ui_Cli_VOR01301.h"

#include "Cli_VOR01300.h"
#include "VOR01300.h"

#include "Application.h"
#include "BtnPesquisa.h"
#include "CheckBox.h"
#include "ClientDataSet.h"
#include "DataSource.h"
#include "Edit.h"
#include "GroupBox.h"
#include "Label.h"
#include "Messages.h"
#include "NetConnection.h"
#include "PesquisaLista.h"
#include "RadioButton.h"
#include "Routines.h"
#include "ShowAvi.h"

void CriaFiltroConcAtivProj()
{
    // The hour-glass covers creating and showing; a failure still passes on
    // to the host with the normal cursor back.
    struct CursorScope
    {
        CursorScope() { app()->setScreenCursor(crHourGlass); }
        ~CursorScope() { app()->setScreenCursor(crDefault); }
    } cursor;
    if (!frmFiltroConcAtivProj)
        frmFiltroConcAtivProj = app()->CreateForm<TfrmFiltroConcAtivProj>();
    frmFiltroConcAtivProj->SetVisible(false);
    frmFiltroConcAtivProj->ShowModal();
}

TfrmFiltroConcAtivProj::TfrmFiltroConcAtivProj(QWidget *parent)
    : TfrmFiltroPadrao(parent)
    , m_ui(std::make_unique<Ui::TfrmFiltroConcAtivProj>())
{
    CriaDados();
    CriaTela();
    LigaEventos();
}

TfrmFiltroConcAtivProj::~TfrmFiltroConcAtivProj() = default;

void TfrmFiltroConcAtivProj::CriaDados()
{
    auto campo = [](TClientDataSet *dataSet, const char *name, TFieldType type, int size, const char *label,
                    bool visible) {
        TField *field = dataSet->AddField(QString::fromLatin1(name), type, size);
        field->DisplayLabel = QString::fromUtf8(label);
        field->Visible = visible;
        return field;
    };
    const auto S = TFieldType::String;
    const auto X = TFieldType::FixedString;

    // The picker draws its own mark column: IDMARCADO is never a text column.
    cdsOperador = new TClientDataSet(this);
    cdsOperador->setObjectName(QStringLiteral("cdsOperador"));
    cdsOperadorIDMARCADO = campo(cdsOperador, "IDMARCADO", X, 1, "", false);
    cdsOperadorCDOPERRESP = campo(cdsOperador, "CDOPERRESP", S, 12, "Código", true);
    cdsOperadorNMOPERADOR = campo(cdsOperador, "NMOPERADOR", S, 40, "Nome", true);

    // The user sees the short code; the key the picker returns is CDITEMTRAB.
    cdsFiltroItemTrab = new TClientDataSet(this);
    cdsFiltroItemTrab->setObjectName(QStringLiteral("cdsFiltroItemTrab"));
    cdsFiltroItemTrabIDMARCADO = campo(cdsFiltroItemTrab, "IDMARCADO", X, 1, "", false);
    cdsFiltroItemTrabCDREDUITTRAB = campo(cdsFiltroItemTrab, "CDREDUITTRAB", S, 20, "Código", true);
    cdsFiltroItemTrabCDITEMTRAB = campo(cdsFiltroItemTrab, "CDITEMTRAB", S, 10, "Código", false);
    cdsFiltroItemTrabNMITEMTRAB = campo(cdsFiltroItemTrab, "NMITEMTRAB", S, 100, "Nome", true);

    dtsOperador = new TDataSource(this);
    dtsOperador->setObjectName(QStringLiteral("dtsOperador"));
    dtsOperador->SetDataSet(cdsOperador);
    dtsItTrab = new TDataSource(this);
    dtsItTrab->setObjectName(QStringLiteral("dtsItTrab"));
    dtsItTrab->SetDataSet(cdsFiltroItemTrab);

    msgPadrao->Messages = QStringList{
        QStringLiteral("OPERADOR|Operador"),
        QStringLiteral("OPER_N_CAD|Operador não Cadastrado"),
        QStringLiteral("ITTRAB|Descrição da atividade"),
        QStringLiteral("ITTRAB_N_CAD|Item de Trabalho não cadastrado"),
        QStringLiteral("ITEM_INF|Descrição da atividade deve ser informada."),
        QStringLiteral("OPE_INF|Operador deve ser informado."),
        QStringLiteral("SIT_INF|Situação da atividade deve ser informada."),
        QStringLiteral("STA_INF|Status de aprovação da atividade deve ser informado."),
    };
}

void TfrmFiltroConcAtivProj::CriaTela()
{
    m_ui->setupUi(this);
    setObjectName(QStringLiteral("frmFiltroConcAtivProj"));
    lblCodTela->SetCaption(QStringLiteral("VOR01301"));
    SetClientSize(307, 173);
    grbFiltroPadrao->resize(308, 173);
    move(371, 151);

    gpbOperador = m_ui->gpbOperador;
    rbtTodosOp = m_ui->rbtTodosOp;
    rbtListaOp = m_ui->rbtListaOp;
    btpOperador = m_ui->btpOperador;
    gpbItTrab = m_ui->gpbItTrab;
    rbtTodosItem = m_ui->rbtTodosItem;
    rbtListaItem = m_ui->rbtListaItem;
    btpItTrab = m_ui->btpItTrab;
    grbSituacao = m_ui->grbSituacao;
    ckbTodas = m_ui->ckbTodas;
    ckbAndamento = m_ui->ckbAndamento;
    ckbConcluida = m_ui->ckbConcluida;
    grbStatus = m_ui->grbStatus;
    ckbAprova = m_ui->ckbAprova;
    ckbNAprovada = m_ui->ckbNAprovada;

    // The resource lays the groups out on the form; they belong in the base
    // dialog's criteria box.
    for (TGroupBox *grupo : {gpbOperador, gpbItTrab, grbSituacao, grbStatus}) {
        const QRect at = grupo->geometry();
        grupo->setParent(grbFiltroPadrao);
        grupo->setGeometry(at);
        grupo->show();
    }
    btpOperador->SetAssociate(rbtListaOp);
    btpItTrab->SetAssociate(rbtListaItem);
    for (TBtnPesquisa *botao : {btpOperador, btpItTrab})
        botao->setIcon(QIcon(QStringLiteral(":/vor01300/hand.xpm")));
}

void TfrmFiltroConcAtivProj::LigaEventos()
{
    rbtTodosOp->OnClick = [this](QObject *sender) { rbtTodosOpClick(sender); };
    rbtListaOp->OnClick = [this](QObject *sender) { rbtListaOpClick(sender); };
    rbtTodosItem->OnClick = [this](QObject *sender) { rbtTodosItemClick(sender); };
    rbtListaItem->OnClick = [this](QObject *sender) { rbtListaItemClick(sender); };
    btpOperador->OnClick = [this](QObject *sender) { btpOperadorClick(sender); };
    btpItTrab->OnClick = [this](QObject *sender) { btpItTrabClick(sender); };
    ckbTodas->OnClick = [this](QObject *sender) { ckbTodasClick(sender); };
    ckbAndamento->OnClick = [this](QObject *sender) { ckbAndamentoClick(sender); };
    ckbConcluida->OnClick = [this](QObject *sender) { ckbConcluidaClick(sender); };
}

// --- operators and activity descriptions ---

void TfrmFiltroConcAtivProj::rbtTodosOpClick(QObject *)
{
    btpOperador->SetEnabled(false);
}

void TfrmFiltroConcAtivProj::rbtListaOpClick(QObject *)
{
    btpOperador->SetEnabled(true);
}

void TfrmFiltroConcAtivProj::rbtTodosItemClick(QObject *)
{
    btpItTrab->SetEnabled(false);
}

void TfrmFiltroConcAtivProj::rbtListaItemClick(QObject *)
{
    btpItTrab->SetEnabled(true);
}

void TfrmFiltroConcAtivProj::PesquisaGrupo(const QString &method, TClientDataSet *dataSet,
                                           TDataSource *dataSource, const QString &keyField,
                                           const QString &titleKey, const QString &notFoundKey, QString &picked)
{
    {
        ShowAviScope espera(app()->MainForm(), 6);
        dataSet->SetData(CheckResultServ(frmConcAtivProj->netConcAtivProj->AppServer().call(
                                             method, {frmConcAtivProj->edtCDFILIAL->Text(),
                                                      frmConcAtivProj->edtCDPROJETO->Text(), QString(),
                                                      QStringLiteral("T")}),
                                         true, 0));
    }
    PesquisaLista(dataSource, keyField, msgPadrao->Msg(titleKey) + QLatin1Char('|') + msgPadrao->Msg(notFoundKey),
                  false, picked);
}

void TfrmFiltroConcAtivProj::btpOperadorClick(QObject *)
{
    PesquisaGrupo(QStringLiteral("getFiltroOper"), cdsOperador, dtsOperador, QStringLiteral("CDOPERRESP"),
                  QStringLiteral("OPERADOR"), QStringLiteral("OPER_N_CAD"), stOperador);
}

void TfrmFiltroConcAtivProj::btpItTrabClick(QObject *)
{
    PesquisaGrupo(QStringLiteral("getFiltroItemTrab"), cdsFiltroItemTrab, dtsItTrab, QStringLiteral("CDITEMTRAB"),
                  QStringLiteral("ITTRAB"), QStringLiteral("ITTRAB_N_CAD"), stItTrab);
}

// --- situations ---
// Setting a box from code runs its handler when the state changes, so the
// handlers below cascade; "Em Aberto" and "Concluída" together become "Todas".

void TfrmFiltroConcAtivProj::ckbTodasClick(QObject *)
{
    if (ckbTodas->Checked()) {
        ckbAndamento->SetChecked(false);
        ckbConcluida->SetChecked(false);
    }
}

void TfrmFiltroConcAtivProj::ckbAndamentoClick(QObject *)
{
    if (ckbTodas->Checked() && ckbAndamento->Checked())
        ckbTodas->SetChecked(false);
    Marca_Todos();
}

void TfrmFiltroConcAtivProj::ckbConcluidaClick(QObject *)
{
    if (ckbTodas->Checked() && ckbConcluida->Checked())
        ckbTodas->SetChecked(false);
    Marca_Todos();
}

void TfrmFiltroConcAtivProj::Marca_Todos()
{
    if (ckbAndamento->Checked() && ckbConcluida->Checked()) {
        ckbTodas->SetChecked(true);
        ckbAndamento->SetChecked(false);
        ckbConcluida->SetChecked(false);
    }
}

// --- checks ---

void TfrmFiltroConcAtivProj::vd_CDOPERADOR()
{
    if (rbtListaOp->Checked() && stOperador.isEmpty()) {
        rbtListaOp->SetFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("OPE_INF")), true);
    }
}

void TfrmFiltroConcAtivProj::vd_CDITEMTRAB()
{
    if (rbtListaItem->Checked() && stItTrab.isEmpty()) {
        rbtListaItem->SetFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("ITEM_INF")), true);
    }
}

void TfrmFiltroConcAtivProj::vd_situacao()
{
    if (!ckbTodas->Checked() && !ckbConcluida->Checked() && !ckbAndamento->Checked())
        MensErro(msgPadrao->Msg(QStringLiteral("SIT_INF")), true);
}

void TfrmFiltroConcAtivProj::vd_statusAnda()
{
    if (!ckbAprova->Checked() && !ckbNAprovada->Checked())
        MensErro(msgPadrao->Msg(QStringLiteral("STA_INF")), true);
}

void TfrmFiltroConcAtivProj::vd_RBTCHECADO()
{
    if (rbtListaOp->Checked() && stOperador.isEmpty())
        rbtTodosOp->SetChecked(true);
    if (rbtListaItem->Checked() && stItTrab.isEmpty())
        rbtTodosItem->SetChecked(true);
}

// --- confirm, cancel, close, options ---

void TfrmFiltroConcAtivProj::sbtConfirmaClick(QObject *)
{
    m_criteriosRecusados = true;
    vd_CDOPERADOR();
    vd_CDITEMTRAB();
    vd_situacao();
    vd_statusAnda();
    m_criteriosRecusados = false;

    if (rbtTodosOp->Checked()) {
        stOperador.clear();
        stTOperador = QStringLiteral("T");
    } else {
        stTOperador.clear();
    }
    if (rbtTodosItem->Checked()) {
        stItTrab.clear();
        stTItTrab = QStringLiteral("T");
    } else {
        stTItTrab.clear();
    }

    QString situacao;
    if (ckbTodas->Checked()) {
        situacao = QStringLiteral("_A_C");
    } else {
        if (ckbAndamento->Checked())
            situacao += QStringLiteral("_A");
        if (ckbConcluida->Checked())
            situacao += QStringLiteral("_C");
    }
    QString status;
    if (ckbAprova->Checked())
        status += QStringLiteral("_A");
    if (ckbNAprovada->Checked())
        status += QStringLiteral("_N");

    {
        ShowAviScope espera(app()->MainForm(), 1);
        // The last six go by reference: what the server leaves in them is kept.
        const QJsonValue atividades = CheckResultServ(
            frmConcAtivProj->netConcAtivProj->AppServer().call(
                QStringLiteral("getFiltroConcAtiv"),
                {frmConcAtivProj->edtCDFILIAL->Text(), frmConcAtivProj->edtCDPROJETO->Text(), &stItTrab,
                 &stTItTrab, &stOperador, &stTOperador, &situacao, &status}),
            true, 0);
        frmConcAtivProj->cdsConcAtivProj->SetData(atividades);
    }
    Close();
}

void TfrmFiltroConcAtivProj::sbtCancelClick(QObject *)
{
    Close();
}

void TfrmFiltroConcAtivProj::FormClose(QObject *, TCloseAction &action)
{
    action = caHide;
    vd_RBTCHECADO();
}

void TfrmFiltroConcAtivProj::btfLoadOpcClick(QObject *sender)
{
    TfrmFiltroPadrao::btfLoadOpcClick(sender);
    vd_RBTCHECADO();
}
