#pragma once

#include <QDialog>

class QLineEdit;
class QSortFilterProxyModel;
class QTableView;
class TClientDataSet;
class PickListModel;

// The modal list behind TBtnPesquisa (single pick) and PesquisaLista (marks).
// A search line above the list filters the rows (case-insensitive, any
// visible column containing the text); Enter/double click picks (single) or
// confirms (marks); Space or a click on the mark column toggles a mark.
class PickListDialog final : public QDialog
{
    Q_OBJECT

public:
    PickListDialog(TClientDataSet *dataSet, const QString &title, bool markable, QWidget *parent = nullptr);

    PickListModel *listModel() const { return m_model; }
    QTableView *view() const { return m_view; }
    QLineEdit *searchEdit() const { return m_search; }
    int pickedRow() const;               // dataset row of the current list row, -1 none

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onSearch(const QString &text);
    void toggleCurrent();

    PickListModel *m_model;
    QSortFilterProxyModel *m_proxy;
    QTableView *m_view;
    QLineEdit *m_search;
};
