#include "FrmFiltroPadrao.h"

#include "ButtonFlat.h"
#include "CheckBox.h"
#include "ClientDataSet.h"
#include "GroupBox.h"
#include "Guard.h"
#include "Label.h"
#include "MenuItem.h"
#include "Messages.h"
#include "Panel.h"
#include "RadioButton.h"
#include "SpeedButton.h"

#include <QKeyEvent>
#include <QMenu>
#include <QShowEvent>
#include <QSettings>
#include <QSignalBlocker>
#include <QStyle>

namespace {
constexpr int kColumnWidth = 56;
}

TfrmFiltroPadrao::TfrmFiltroPadrao(QWidget *parent)
    : TForm(parent)
{
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);

    grbFiltroPadrao = new TGroupBox(this);
    grbFiltroPadrao->setObjectName(QStringLiteral("grbFiltroPadrao"));

    panMenu = new TPanel(this);
    panMenu->setObjectName(QStringLiteral("panMenu"));
    panMenu->setFrameShape(QFrame::StyledPanel);

    panHelp = new TPanel(panMenu);
    panHelp->setObjectName(QStringLiteral("panHelp"));
    panHelp->setGeometry(2, 2, kColumnWidth - 4, 28);
    sbtHelp = new TSpeedButton(panHelp);
    sbtHelp->setObjectName(QStringLiteral("sbtHelp"));
    sbtHelp->setGeometry(15, 3, 21, 21);
    sbtHelp->SetHint(QStringLiteral("Ajuda"));
    sbtHelp->setIcon(style()->standardIcon(QStyle::SP_DialogHelpButton));

    panBotoes = new TPanel(panMenu);
    panBotoes->setObjectName(QStringLiteral("panBotoes"));
    panBotoes->setGeometry(2, 32, kColumnWidth - 4, 56);
    sbtConfirma = new TSpeedButton(panBotoes);
    sbtConfirma->setObjectName(QStringLiteral("sbtConfirma"));
    sbtConfirma->setGeometry(15, 4, 21, 21);
    sbtConfirma->SetHint(QStringLiteral("Confirmar"));
    sbtConfirma->setIcon(style()->standardIcon(QStyle::SP_DialogApplyButton));
    sbtCancel = new TSpeedButton(panBotoes);
    sbtCancel->setObjectName(QStringLiteral("sbtCancel"));
    sbtCancel->setGeometry(15, 30, 21, 21);
    sbtCancel->SetHint(QStringLiteral("Cancelar"));
    sbtCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));

    btfSaveOpc = new TButtonFlat(panMenu);
    btfSaveOpc->setObjectName(QStringLiteral("btfSaveOpc"));
    btfSaveOpc->setGeometry(8, 94, 40, 21);
    btfSaveOpc->SetHint(QStringLiteral("Salvar opções"));
    btfSaveOpc->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));

    panBotao = new TPanel(panMenu);
    panBotao->setObjectName(QStringLiteral("panBotao"));

    lblCodTela = new TLabel(panMenu);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));

    msgPadrao = new TMessages(this);
    msgPadrao->setObjectName(QStringLiteral("msgPadrao"));

    ppmOpcoes = new QMenu(this);
    ppmOpcoes->setObjectName(QStringLiteral("ppmOpcoes"));
    mnuSalvarOpcoes = new TMenuItem(QStringLiteral("&Salvar opções"), ppmOpcoes);
    mnuCarregarOpcoes = new TMenuItem(QStringLiteral("&Carregar opções"), ppmOpcoes);
    ppmOpcoes->addAction(mnuSalvarOpcoes);
    ppmOpcoes->addAction(mnuCarregarOpcoes);
    btfSaveOpc->setMenu(ppmOpcoes);
    btfSaveOpc->setPopupMode(QToolButton::MenuButtonPopup);
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));

    cdsCarregaOpcoes = new TClientDataSet(this);
    cdsCarregaOpcoes->setObjectName(QStringLiteral("cdsCarregaOpcoes"));
    cdsCarregaOpcoes->AddField(QStringLiteral("CONTROLE"), TFieldType::String, 100);
    cdsCarregaOpcoes->AddField(QStringLiteral("VALOR"), TFieldType::String, 10);

    // A dialog is worked from the keyboard: its commands are Tab stops. The
    // mouse still leaves the focus where it was.
    for (TSpeedButton *b : {sbtConfirma, sbtCancel, static_cast<TSpeedButton *>(btfSaveOpc)})
        b->setFocusPolicy(Qt::TabFocus);
    btfSaveOpc->installEventFilter(this);

    // Bindings by name (virtual: a dialog's override takes over).
    sbtConfirma->OnClick = [this](QObject *s) { sbtConfirmaClick(s); };
    sbtCancel->OnClick = [this](QObject *s) { sbtCancelClick(s); };
    sbtHelp->OnClick = [this](QObject *s) { sbtHelpClick(s); };
    btfSaveOpc->OnClick = [this](QObject *s) { btfSaveOpcClick(s); };
    mnuSalvarOpcoes->OnClick = [this](QObject *s) { btfSaveOpcClick(s); };
    mnuCarregarOpcoes->OnClick = [this](QObject *s) { btfLoadOpcClick(s); };

    SetClientSize(300, 170);
}

TfrmFiltroPadrao::~TfrmFiltroPadrao() = default;

void TfrmFiltroPadrao::SetClientSize(int width, int height)
{
    const int h = qMax(height, 150);
    setFixedSize(width + kColumnWidth, h);
    grbFiltroPadrao->setGeometry(0, 0, width, height);
}

void TfrmFiltroPadrao::resizeEvent(QResizeEvent *event)
{
    TForm::resizeEvent(event);
    panMenu->setGeometry(width() - kColumnWidth, 0, kColumnWidth, height());
    panBotao->setGeometry(2, 120, kColumnWidth - 4, qMax(0, height() - 144));
    lblCodTela->adjustSize();
    lblCodTela->move((kColumnWidth - lblCodTela->width()) / 2, height() - lblCodTela->height() - 4);
}

void TfrmFiltroPadrao::showEvent(QShowEvent *event)
{
    // Each opening starts at the first criterion, on the checked choice of a
    // radio group. Left to Qt, the first Tab stop of the window would be
    // sbtConfirma (made before the derived dialog's criteria), or the button
    // last used, where Return would repeat the last choice at once.
    QWidget *first = nullptr;
    for (QWidget *w = nextInFocusChain(); w && w != this && !first; w = w->nextInFocusChain())
        if (grbFiltroPadrao->isAncestorOf(w) && (w->focusPolicy() & Qt::TabFocus) && w->isEnabled()
            && w->isVisibleTo(this))
            first = w;
    if (auto *radio = qobject_cast<QRadioButton *>(first); radio && !radio->isChecked() && radio->autoExclusive())
        for (QRadioButton *choice : radio->parentWidget()->findChildren<QRadioButton *>(Qt::FindDirectChildrenOnly))
            if (choice->isChecked() && choice->autoExclusive() && choice->isEnabled())
                first = choice;
    if (first)
        first->setFocus(Qt::TabFocusReason);
    TForm::showEvent(event);
}

void TfrmFiltroPadrao::keyPressEvent(QKeyEvent *event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (event->key() == Qt::Key_Escape) {
        runGuarded([this] { sbtCancelClick(this); });
        event->accept();
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && plain) {
        // A focused command button is what the user chose; anywhere else
        // Return means Confirmar.
        auto *button = qobject_cast<QAbstractButton *>(focusWidget());
        if (button && !button->isCheckable() && isAncestorOf(button))
            button->click();
        else
            sbtConfirma->Click();
        event->accept();
        return;
    }
    TForm::keyPressEvent(event);
}

bool TfrmFiltroPadrao::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == btfSaveOpc && event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const Qt::KeyboardModifiers mods = key->modifiers() & ~Qt::KeypadModifier;
        // The options menu's other half ("Carregar opções") is otherwise mouse-only.
        if ((key->key() == Qt::Key_F4 && mods == Qt::NoModifier)
            || (key->key() == Qt::Key_Down && mods == Qt::AltModifier)) {
            btfSaveOpc->showMenu();
            return true;
        }
    }
    return TForm::eventFilter(watched, event);
}

QString TfrmFiltroPadrao::optionsGroup() const
{
    const QString name = objectName().isEmpty() ? QString::fromLatin1(metaObject()->className()) : objectName();
    return QStringLiteral("FiltroOpcoes/") + name;
}

void TfrmFiltroPadrao::sbtConfirmaClick(QObject *) {}

void TfrmFiltroPadrao::sbtCancelClick(QObject *)
{
    Close();
}

void TfrmFiltroPadrao::sbtHelpClick(QObject *) {}

void TfrmFiltroPadrao::btfSaveOpcClick(QObject *)
{
    QSettings settings;
    settings.beginGroup(optionsGroup());
    settings.remove(QString());
    for (const TRadioButton *r : findChildren<TRadioButton *>())
        if (!r->objectName().isEmpty())
            settings.setValue(r->objectName(), r->Checked());
    for (const TCheckBox *c : findChildren<TCheckBox *>())
        if (!c->objectName().isEmpty())
            settings.setValue(c->objectName(), c->Checked());
    settings.endGroup();
    settings.sync();
}

void TfrmFiltroPadrao::btfLoadOpcClick(QObject *)
{
    QSettings settings;
    settings.beginGroup(optionsGroup());
    DataPacket packet;
    packet.fields = {{QStringLiteral("CONTROLE"), TFieldType::String, 100},
                     {QStringLiteral("VALOR"), TFieldType::String, 10}};
    auto saved = [&](QAbstractButton *button, bool *on) {
        if (button->objectName().isEmpty() || !settings.contains(button->objectName()))
            return false;
        *on = settings.value(button->objectName()).toBool();
        packet.rows.push_back({button->objectName(), *on ? QStringLiteral("S") : QStringLiteral("N")});
        return true;
    };
    // Every state is put back first with the click handlers held: handlers
    // that keep controls consistent with each other would otherwise act on a
    // half-restored dialog and undo part of what was saved. The handlers of
    // the controls that changed then run once, on the whole restored state.
    QList<TRadioButton *> radiosOn;
    QList<TCheckBox *> checksChanged;
    for (TRadioButton *r : findChildren<TRadioButton *>()) {
        bool on = false;
        // Checking one unchecks its siblings, so the unchecked ones need no action.
        if (!saved(r, &on) || !on || r->Checked())
            continue;
        const QSignalBlocker hold(r);
        r->SetChecked(true);
        radiosOn.append(r);
    }
    for (TCheckBox *c : findChildren<TCheckBox *>()) {
        bool on = false;
        if (!saved(c, &on) || c->Checked() == on)
            continue;
        const QSignalBlocker hold(c);
        c->SetChecked(on);
        checksChanged.append(c);
    }
    settings.endGroup();
    cdsCarregaOpcoes->SetData(packet);
    for (TRadioButton *r : radiosOn)
        if (r->OnClick && r->Checked())
            r->OnClick(r);
    for (TCheckBox *c : checksChanged)
        if (c->OnClick)
            c->OnClick(c);
}
