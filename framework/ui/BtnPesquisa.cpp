#include "BtnPesquisa.h"

#include "Guard.h"
#include "ListDialogs.h"

TBtnPesquisa::TBtnPesquisa(QWidget *parent)
    : TSpeedButton(parent)
{
    setFixedSize(21, 21);
    SetHint(QStringLiteral("Pesquisar"));
    // The click runs the lookup; OnClick stays the handler of a plain button.
    disconnect(this, &QAbstractButton::clicked, this, nullptr);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (m_dataSource)
            Execute();
        else
            fireNotify(OnClick, this);
    });
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
