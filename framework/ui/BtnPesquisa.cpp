#include "BtnPesquisa.h"

#include "Guard.h"
#include "ListDialogs.h"

#include <QKeyEvent>

namespace {

bool opensLookup(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_F4 && mods == Qt::NoModifier)
           || (event->key() == Qt::Key_Down && mods == Qt::AltModifier);
}

} // namespace

TBtnPesquisa::TBtnPesquisa(QWidget *parent)
    : TSpeedButton(parent)
{
    setFixedSize(21, 21);
    SetHint(QStringLiteral("Pesquisar"));
    // The click runs the lookup; OnClick stays the handler of a plain button.
    disconnect(this, &QAbstractButton::clicked, this, nullptr);
    connect(this, &QAbstractButton::clicked, this, [this] {
        runGuarded([this] {
            if (m_dataSource)
                Execute();
            else
                fireNotify(OnClick, this);
        });
    });
}

void TBtnPesquisa::SetAssociate(QWidget *control)
{
    if (m_associate)
        m_associate->removeEventFilter(this);
    m_associate = control;
    if (control)
        control->installEventFilter(this);
}

bool TBtnPesquisa::eventFilter(QObject *watched, QEvent *event)
{
    const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride;
    if (watched != m_associate || !key || !opensLookup(static_cast<QKeyEvent *>(event)) || !isEnabled()
        || !isVisible())
        return TSpeedButton::eventFilter(watched, event);
    // The key belongs to the box, never to a window shortcut; a radio button
    // associate must not take Alt+Down as a move to its sibling.
    event->accept();
    if (event->type() == QEvent::KeyPress)
        click();
    return true;
}

bool TBtnPesquisa::Execute()
{
    if (!m_dataSource) {
        fireNotify(OnClick, this);
        return false;
    }
    bool flag = true;
    if (OnBeforePesq && !runGuarded([this, &flag] { OnBeforePesq(this, flag); }))
        return false; // the before-search handler ended the press
    TClientDataSet *ds = m_dataSource ? m_dataSource->DataSet() : nullptr;
    if (!ds || !ds->Active())
        return false;
    QWidget *owner = m_associate ? m_associate->window() : window();
    PickListDialog dialog(ds, m_title, false, owner);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const int row = dialog.pickedRow();
    if (row < 0 || !ds)
        return false;
    if (!runGuarded([ds, row] { ds->SetRecNo(row + 1); }))
        return false;
    fireNotify(OnAfterPesq, this);
    return true;
}
