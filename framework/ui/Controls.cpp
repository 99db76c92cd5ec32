// The small controls: edits, labels, panels, choice buttons, images, tool
// buttons, menu items and pages.
#include "ButtonFlat.h"
#include "Canvas.h"
#include "CheckBox.h"
#include "Edit.h"
#include "GroupBox.h"
#include "Image.h"
#include "Label.h"
#include "MenuItem.h"
#include "PageControl.h"
#include "Panel.h"
#include "RadioButton.h"
#include "SpeedButton.h"

#include <QIcon>
#include <QKeyEvent>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

// --- TEdit -----------------------------------------------------------------

TEdit::TEdit(QWidget *parent)
    : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, &TEdit::onTextChanged);
}

void TEdit::SetText(const QString &text)
{
    setText(text);
}

void TEdit::SetMaxLength(int length)
{
    setMaxLength(length > 0 ? length : 32767);
}

void TEdit::SetFocus()
{
    setFocus(Qt::OtherFocusReason);
}

void TEdit::onTextChanged(const QString &text)
{
    if (text == m_lastText)
        return;
    m_lastText = text;
    fireNotify(OnChange, this);
}

void TEdit::keyPressEvent(QKeyEvent *event)
{
    const KeyDispatch k = dispatchKey(this, event, OnKeyDown, OnKeyPress);
    if (k.swallowed) {
        event->accept();
        return;
    }
    if (k.rewritten) {
        QKeyEvent replaced = rewrittenEvent(event, k.character);
        QLineEdit::keyPressEvent(&replaced);
        event->setAccepted(replaced.isAccepted());
        return;
    }
    QLineEdit::keyPressEvent(event);
}

// --- TLabel, TPanel, TGroupBox ----------------------------------------------

TLabel::TLabel(QWidget *parent)
    : QLabel(parent)
{
}

TLabel::TLabel(const QString &caption, QWidget *parent)
    : QLabel(caption, parent)
{
}

TPanel::TPanel(QWidget *parent)
    : QFrame(parent)
{
}

TGroupBox::TGroupBox(QWidget *parent)
    : QGroupBox(parent)
{
}

TGroupBox::TGroupBox(const QString &caption, QWidget *parent)
    : QGroupBox(caption, parent)
{
}

// --- TRadioButton, TCheckBox ------------------------------------------------

TRadioButton::TRadioButton(QWidget *parent)
    : TRadioButton(QString(), parent)
{
}

TRadioButton::TRadioButton(const QString &caption, QWidget *parent)
    : QRadioButton(caption, parent)
{
    // toggled covers the user's click and SetChecked from code alike.
    connect(this, &QAbstractButton::toggled, this, [this](bool on) {
        if (on)
            fireNotify(OnClick, this);
    });
}

void TRadioButton::SetFocus()
{
    setFocus(Qt::OtherFocusReason);
}

TCheckBox::TCheckBox(QWidget *parent)
    : TCheckBox(QString(), parent)
{
}

TCheckBox::TCheckBox(const QString &caption, QWidget *parent)
    : QCheckBox(caption, parent)
{
    connect(this, &QAbstractButton::toggled, this, [this](bool) { fireNotify(OnClick, this); });
}

void TCheckBox::SetFocus()
{
    setFocus(Qt::OtherFocusReason);
}

// --- TImage ------------------------------------------------------------------

TImage::TImage(QWidget *parent)
    : QLabel(parent)
{
    resize(16, 16);
}

void TImage::SetPicture(const QPixmap &picture)
{
    m_picture = picture;
    setPixmap(picture);
}

// --- TSpeedButton, TButtonFlat ----------------------------------------------

TSpeedButton::TSpeedButton(QWidget *parent)
    : QToolButton(parent)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::NoFocus);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    resize(21, 21);
    connect(this, &QAbstractButton::clicked, this, [this] { fireNotify(OnClick, this); });
}

bool TSpeedButton::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTipChange && (accessibleName().isEmpty() || m_nameFromHint)) {
        setAccessibleName(toolTip());
        m_nameFromHint = true;
    }
    return QToolButton::event(event);
}

void TSpeedButton::paintEvent(QPaintEvent *event)
{
    QToolButton::paintEvent(event);
    if (!hasFocus())
        return;
    QStylePainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    // Only the keyboard gives it the focus (Tab focus at most), so the style's
    // "after a key" condition always holds.
    frame.state |= QStyle::State_KeyboardFocusChange;
    frame.rect = rect().adjusted(1, 1, -1, -1);
    frame.backgroundColor = palette().color(QPalette::Button);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, frame);
}

void TSpeedButton::SetCaption(const QString &caption)
{
    setText(caption);
    setToolButtonStyle(m_glyph.isNull() ? Qt::ToolButtonTextOnly : Qt::ToolButtonTextBesideIcon);
}

void TSpeedButton::SetGlyph(const QPixmap &glyph, int numGlyphs)
{
    m_glyph = glyph;
    if (glyph.isNull()) {
        setIcon(QIcon());
        return;
    }
    // The bottom-left pixel names the transparent colour, as the family's bitmaps expect.
    const QColor key = glyph.toImage().pixelColor(0, glyph.height() - 1);
    QIcon icon;
    if (numGlyphs >= 2) {
        const int w = glyph.width() / numGlyphs;
        icon.addPixmap(transparentBitmap(glyph.copy(0, 0, w, glyph.height()), key), QIcon::Normal);
        icon.addPixmap(transparentBitmap(glyph.copy(w, 0, w, glyph.height()), key), QIcon::Disabled);
    } else {
        icon.addPixmap(transparentBitmap(glyph, key));
    }
    setIcon(icon);
    if (!text().isEmpty())
        setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
}

void TSpeedButton::Click()
{
    if (isEnabled())
        fireNotify(OnClick, this);
}

TButtonFlat::TButtonFlat(QWidget *parent)
    : TSpeedButton(parent)
{
}

// --- TMenuItem -------------------------------------------------------------

TMenuItem::TMenuItem(QObject *parent)
    : TMenuItem(QString(), parent)
{
}

TMenuItem::TMenuItem(const QString &caption, QObject *parent)
    : QAction(caption, parent)
{
    connect(this, &QAction::triggered, this, [this] { fireNotify(OnClick, this); });
}

void TMenuItem::SetShortCut(int stored)
{
    setShortcut(ShortCutFromInt(stored));
}

void TMenuItem::AttachShortcutTo(QWidget *scope)
{
    // Only while the focus is inside scope: two MDI children with the same
    // shortcut never compete.
    setShortcutContext(Qt::WidgetWithChildrenShortcut);
    if (scope && !scope->actions().contains(this))
        scope->addAction(this);
}

void TMenuItem::Click()
{
    if (isEnabled())
        fireNotify(OnClick, this);
}

QKeySequence ShortCutFromInt(int stored)
{
    if (stored == 0)
        return QKeySequence();
    Qt::KeyboardModifiers mods;
    if (stored & 0x2000)
        mods |= Qt::ShiftModifier;
    if (stored & 0x4000)
        mods |= Qt::ControlModifier;
    if (stored & 0x8000)
        mods |= Qt::AltModifier;
    const int key = qtKeyFromVk(stored & 0xFF);
    return QKeySequence(QKeyCombination(mods, Qt::Key(key)));
}

// --- TPageControl, TTabSheet -------------------------------------------------

TPageControl::TPageControl(QWidget *parent)
    : QTabWidget(parent)
{
}

TTabSheet::TTabSheet(QWidget *parent)
    : QWidget(parent)
{
}

TTabSheet::TTabSheet(TPageControl *pageControl, const QString &caption)
    : QWidget(pageControl)
{
    pageControl->addTab(this, caption);
}
