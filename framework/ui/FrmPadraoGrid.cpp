#include "FrmPadraoGrid.h"

#include "DBGrid.h"
#include "DBNavigator.h"
#include "DBText.h"
#include "DataSource.h"
#include "Label.h"
#include "ListDialogs.h"
#include "MenuItem.h"
#include "Messages.h"
#include "PageControl.h"
#include "Panel.h"
#include "SpeedButton.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>


TfrmPadraoGrid::TfrmPadraoGrid(QWidget *parent)
    : TForm(parent)
{
    SetFormStyle(fsMDIChild);
    resize(800, 500);

    m_layout = new QVBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    mnuMenu = new QMenuBar(this);
    mnuMenu->setObjectName(QStringLiteral("mnuMenu"));
    mnuOperacao = mnuMenu->addMenu(QStringLiteral("&Operação"));
    mnuOperacao->setObjectName(QStringLiteral("mnuOperacao"));
    mnuManutencao = mnuMenu->addMenu(QStringLiteral("&Manutenção"));
    mnuManutencao->setObjectName(QStringLiteral("mnuManutencao"));
    auto item = [this](QMenu *menu, const char *name, const char *caption) {
        auto *i = new TMenuItem(QString::fromUtf8(caption), this);
        i->setObjectName(QString::fromLatin1(name));
        addMenuItem(menu, i);
        return i;
    };
    mnuListagem = item(mnuOperacao, "mnuListagem", "&Listagem");
    mnuIncluir = item(mnuManutencao, "mnuIncluir", "&Incluir");
    mnuAlterar = item(mnuManutencao, "mnuAlterar", "&Alterar");
    mnuExcluir = item(mnuManutencao, "mnuExcluir", "&Excluir");
    mnuProcurar = item(mnuManutencao, "mnuProcurar", "&Procurar");
    mnuVerificar = item(mnuManutencao, "mnuVerificar", "&Verificar");
    mnuCancelar = item(mnuManutencao, "mnuCancelar", "&Cancelar");
    mnuConfirmar = item(mnuManutencao, "mnuConfirmar", "C&onfirmar");
    m_layout->addWidget(mnuMenu);

    panMenu = new TPanel(this);
    panMenu->setObjectName(QStringLiteral("panMenu"));
    panMenu->setFrameShape(QFrame::StyledPanel);
    panMenu->setFixedHeight(30);
    sbtIncluir = makeButton(QStringLiteral("sbtIncluir"), 4, QStringLiteral("Incluir"));
    sbtAlterar = makeButton(QStringLiteral("sbtAlterar"), 28, QStringLiteral("Alterar"));
    sbtExcluir = makeButton(QStringLiteral("sbtExcluir"), 52, QStringLiteral("Excluir"));
    sbtProcurar = makeButton(QStringLiteral("sbtProcurar"), 84, QStringLiteral("Procurar"));
    sbtVerificar = makeButton(QStringLiteral("sbtVerificar"), 108, QStringLiteral("Verificar"));
    sbtCancelar = makeButton(QStringLiteral("sbtCancelar"), 140, QStringLiteral("Cancelar"));
    sbtConfirmar = makeButton(QStringLiteral("sbtConfirmar"), 164, QStringLiteral("Confirmar"));
    sbtImprimir = makeButton(QStringLiteral("sbtImprimir"), 196, QStringLiteral("Imprimir"));
    sbtAjuda = makeButton(QStringLiteral("sbtAjuda"), 228, QStringLiteral("Ajuda"));
    sbtFechar = makeButton(QStringLiteral("sbtFechar"), 252, QStringLiteral("Fechar"));
    const std::pair<TSpeedButton *, QStyle::StandardPixmap> icons[] = {
        {sbtIncluir, QStyle::SP_FileIcon},          {sbtAlterar, QStyle::SP_FileDialogDetailedView},
        {sbtExcluir, QStyle::SP_TrashIcon},         {sbtProcurar, QStyle::SP_FileDialogContentsView},
        {sbtVerificar, QStyle::SP_BrowserReload},   {sbtCancelar, QStyle::SP_DialogCancelButton},
        {sbtConfirmar, QStyle::SP_DialogApplyButton}, {sbtImprimir, QStyle::SP_DriveFDIcon},
        {sbtAjuda, QStyle::SP_DialogHelpButton},    {sbtFechar, QStyle::SP_DialogCloseButton},
    };
    for (const auto &[button, icon] : icons)
        button->setIcon(style()->standardIcon(icon));
    lblCodTela = new TLabel(panMenu);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    m_layout->addWidget(panMenu);

    pgcPadrao = new TPageControl(this);
    pgcPadrao->setObjectName(QStringLiteral("pgcPadrao"));
    tshPadrao = new TTabSheet(pgcPadrao, QStringLiteral("Dados"));
    tshPadrao->setObjectName(QStringLiteral("tshPadrao"));
    auto *sheetLayout = new QVBoxLayout(tshPadrao);
    sheetLayout->setContentsMargins(0, 0, 0, 0);
    panDbgPadrao = new TPanel(tshPadrao);
    panDbgPadrao->setObjectName(QStringLiteral("panDbgPadrao"));
    sheetLayout->addWidget(panDbgPadrao);
    auto *gridLayout = new QVBoxLayout(panDbgPadrao);
    gridLayout->setContentsMargins(2, 2, 2, 2);
    gridLayout->setSpacing(2);
    scbFolhaDados = new QScrollArea(panDbgPadrao);
    scbFolhaDados->setObjectName(QStringLiteral("scbFolhaDados"));
    scbFolhaDados->setWidgetResizable(true);
    scbFolhaDados->setFrameShape(QFrame::NoFrame);
    scbFolhaDados->setFocusPolicy(Qt::NoFocus); // the grid inside takes the keyboard
    dbgPadrao = new TDBGrid();
    dbgPadrao->setObjectName(QStringLiteral("dbgPadrao"));
    scbFolhaDados->setWidget(dbgPadrao);
    gridLayout->addWidget(scbFolhaDados, 1);
    m_layout->addWidget(pgcPadrao, 1);

    panNavigator = new TPanel(this);
    panNavigator->setObjectName(QStringLiteral("panNavigator"));
    panNavigator->setFrameShape(QFrame::StyledPanel);
    panNavigator->setFixedHeight(28);
    auto *navLayout = new QHBoxLayout(panNavigator);
    navLayout->setContentsMargins(4, 2, 4, 2);
    dbtNome = new TDBText(panNavigator);
    dbtNome->setObjectName(QStringLiteral("dbtNome"));
    dbnPadrao = new TDBNavigator(panNavigator);
    dbnPadrao->setObjectName(QStringLiteral("dbnPadrao"));
    navLayout->addWidget(dbtNome, 1);
    navLayout->addWidget(dbnPadrao);
    m_layout->addWidget(panNavigator);

    dtsPadrao = new TDataSource(this);
    dtsPadrao->setObjectName(QStringLiteral("dtsPadrao"));
    dbgPadrao->SetDataSource(dtsPadrao);
    dbtNome->SetDataSource(dtsPadrao);
    dbnPadrao->SetDataSource(dtsPadrao);

    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(QStringLiteral("msgPadrao"));
    msgMensagensPadroes = new TMessages(this);
    msgMensagensPadroes->setObjectName(QStringLiteral("msgMensagensPadroes"));
    msgMensagensPadroes->Messages = {
        QStringLiteral("Excl|Confirma exclusão?"),
        QStringLiteral("SemReg|Não há registros."),
        QStringLiteral("Gravar|Confirma as alterações?"),
    };
    psdConfigurar = new QObject(this);
    psdConfigurar->setObjectName(QStringLiteral("psdConfigurar"));
    prdImprimir = new QObject(this);
    prdImprimir->setObjectName(QStringLiteral("prdImprimir"));

    pmnNavegar = new QMenu(this);
    pmnNavegar->setObjectName(QStringLiteral("pmnNavegar"));
    const std::pair<const char *, TDBNavigator::Button> nav[] = {
        {"Primeiro", TDBNavigator::nbFirst}, {"Anterior", TDBNavigator::nbPrior},
        {"Próximo", TDBNavigator::nbNext},   {"Último", TDBNavigator::nbLast}};
    for (const auto &[caption, button] : nav) {
        auto *i = new TMenuItem(QString::fromUtf8(caption), pmnNavegar);
        const TDBNavigator::Button b = button;
        i->OnClick = [this, b](QObject *) { dbnPadrao->BtnClick(b); };
        pmnNavegar->addAction(i);
    }
    dbgPadrao->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(dbgPadrao, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { pmnNavegar->popup(dbgPadrao->viewport()->mapToGlobal(pos)); });

    // Bindings by name: the virtual handlers run, so a screen's override takes over.
    pair(sbtIncluir, mnuIncluir, &TfrmPadraoGrid::sbtIncluirClick);
    pair(sbtAlterar, mnuAlterar, &TfrmPadraoGrid::sbtAlterarClick);
    pair(sbtExcluir, mnuExcluir, &TfrmPadraoGrid::sbtExcluirClick);
    pair(sbtProcurar, mnuProcurar, &TfrmPadraoGrid::sbtProcurarClick);
    pair(sbtVerificar, mnuVerificar, &TfrmPadraoGrid::sbtVerificarClick);
    pair(sbtCancelar, mnuCancelar, &TfrmPadraoGrid::sbtCancelarClick);
    pair(sbtConfirmar, mnuConfirmar, &TfrmPadraoGrid::sbtConfirmarClick);
    pair(sbtImprimir, mnuListagem, &TfrmPadraoGrid::sbtImprimirClick);
    pair(sbtAjuda, nullptr, &TfrmPadraoGrid::sbtAjudaClick);
    pair(sbtFechar, nullptr, &TfrmPadraoGrid::sbtFecharClick);
    dbgPadrao->OnKeyDown = [this](QObject *s, int &key, Qt::KeyboardModifiers shift) {
        dbgPadraoKeyDown(s, key, shift);
    };
    dbgPadrao->OnKeyPress = [this](QObject *s, QChar &key) { dbgPadraoKeyPress(s, key); };
    dtsPadrao->OnStateChange = [this](QObject *s) { dtsPadraoStateChange(s); };

    // Commands start disabled until the data source says otherwise.
    for (const auto &[button, menuItem] : m_pairs) {
        button->setEnabled(false);
        if (menuItem)
            menuItem->setEnabled(false);
    }
    sbtAjuda->setEnabled(true);
    sbtFechar->setEnabled(true);
}

TfrmPadraoGrid::~TfrmPadraoGrid() = default;

TSpeedButton *TfrmPadraoGrid::makeButton(const QString &name, int left, const QString &hint)
{
    auto *b = new TSpeedButton(panMenu);
    b->setObjectName(name);
    b->setGeometry(left, 4, 21, 21);
    b->SetHint(hint);
    return b;
}

void TfrmPadraoGrid::pair(TSpeedButton *button, TMenuItem *item, void (TfrmPadraoGrid::*handler)(QObject *))
{
    button->OnClick = [this, handler](QObject *sender) { (this->*handler)(sender); };
    if (item)
        item->OnClick = [this, handler](QObject *sender) { (this->*handler)(sender); };
    m_pairs[button] = item;
}

TMenuItem *TfrmPadraoGrid::menuItemOf(TSpeedButton *button) const
{
    const auto it = m_pairs.find(button);
    return it == m_pairs.end() ? nullptr : it->second;
}

void TfrmPadraoGrid::setCommandEnabled(TSpeedButton *button, bool enabled)
{
    if (!button)
        return;
    button->setEnabled(enabled);
    if (TMenuItem *item = menuItemOf(button))
        item->setEnabled(enabled);
}

void TfrmPadraoGrid::insertHeader(QWidget *header)
{
    header->setParent(this);
    m_layout->insertWidget(2 + m_headerCount++, header);
}

void TfrmPadraoGrid::addMenuItem(QMenu *menu, TMenuItem *item)
{
    menu->addAction(item);
    item->AttachShortcutTo(this);
}

void TfrmPadraoGrid::addMenuSeparator(QMenu *menu)
{
    menu->addSeparator();
}

void TfrmPadraoGrid::resizeEvent(QResizeEvent *event)
{
    TForm::resizeEvent(event);
    lblCodTela->adjustSize();
    lblCodTela->move(panMenu->width() - lblCodTela->width() - 8, (panMenu->height() - lblCodTela->height()) / 2);
}

// --- handlers -----------------------------------------------------------------------

void TfrmPadraoGrid::FormCreate(QObject *)
{
    // The base's own rules only: a screen's state handler may rely on what its
    // FormCreate sets up after this call.
    TfrmPadraoGrid::dtsPadraoStateChange(dtsPadrao);
}

void TfrmPadraoGrid::FormClose(QObject *, TCloseAction &action)
{
    action = caHide;
}

void TfrmPadraoGrid::dbgPadraoKeyDown(QObject *, int &, Qt::KeyboardModifiers) {}

void TfrmPadraoGrid::dbgPadraoKeyPress(QObject *, QChar &) {}

void TfrmPadraoGrid::dtsPadraoStateChange(QObject *)
{
    const TDataSource::State state = dtsPadrao->state();
    const TClientDataSet *ds = dtsPadrao->DataSet();
    const bool browse = state == TDataSource::dsBrowse;
    const bool hasRows = ds && !ds->IsEmpty();
    setCommandEnabled(sbtIncluir, false);
    setCommandEnabled(sbtExcluir, false);
    setCommandEnabled(sbtAlterar, browse && hasRows);
    setCommandEnabled(sbtProcurar, browse && hasRows);
    setCommandEnabled(sbtVerificar, browse);
    setCommandEnabled(sbtImprimir, browse && hasRows);
    setCommandEnabled(sbtCancelar, state == TDataSource::dsEdit);
    setCommandEnabled(sbtConfirmar, state == TDataSource::dsEdit);
}

void TfrmPadraoGrid::sbtIncluirClick(QObject *) {}

void TfrmPadraoGrid::sbtAlterarClick(QObject *)
{
    TClientDataSet *ds = dtsPadrao->DataSet();
    if (!ds || ds->IsEmpty())
        return;
    ds->Edit();
    dbgPadrao->SetFocus();
}

void TfrmPadraoGrid::sbtExcluirClick(QObject *) {}

void TfrmPadraoGrid::sbtProcurarClick(QObject *)
{
    TClientDataSet *ds = dtsPadrao->DataSet();
    if (!ds || ds->IsEmpty())
        return;
    PickListDialog dialog(ds, Caption(), false, this);
    if (dialog.exec() == QDialog::Accepted && dialog.pickedRow() >= 0)
        ds->SetRecNo(dialog.pickedRow() + 1);
}

void TfrmPadraoGrid::sbtVerificarClick(QObject *)
{
    dbgPadrao->viewport()->update();
}

void TfrmPadraoGrid::sbtCancelarClick(QObject *)
{
    if (TClientDataSet *ds = dtsPadrao->DataSet())
        ds->Cancel();
    // The user goes on in the grid, on the same row.
    dbgPadrao->SetFocus();
}

void TfrmPadraoGrid::sbtConfirmarClick(QObject *)
{
    // The text still in the cell editor belongs to the row being confirmed.
    if (!dbgPadrao->commitEditor())
        return;
    if (TClientDataSet *ds = dtsPadrao->DataSet())
        ds->Post();
    dbgPadrao->SetFocus();
}

void TfrmPadraoGrid::sbtImprimirClick(QObject *) {}

void TfrmPadraoGrid::sbtAjudaClick(QObject *) {}

void TfrmPadraoGrid::sbtFecharClick(QObject *)
{
    Close();
}
