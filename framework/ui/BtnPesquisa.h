#pragma once

#include "ClientDataSet.h"
#include "DataSource.h"

#include "SpeedButton.h"

#include <QPointer>


// Lookup button beside an edit (flat, 21x21). Pressing it with a DataSource:
// OnBeforePesq(sender, flag) first (an exception there ends the press: no
// list); then a modal list of the dataset's visible rows under Title (visible
// fields as columns, labels as titles; typing filters the rows); Enter or a
// double click picks: that row becomes the dataset's current row and
// OnAfterPesq runs; Escape cancels (cursor unchanged, OnAfterPesq not run).
// Without a DataSource it is a plain button: pressing runs OnClick only.
// F4 or Alt+Down in the Associate (the keys of a drop-down list) press an
// enabled button: the same press as a click, under the guard. The button
// takes no focus of its own (a dialog may make it a Tab stop; Space then
// presses it), and the focus is where it was after the list closes (no
// enter/exit handler runs because of a lookup).
class VORWIDGETS_EXPORT TBtnPesquisa : public TSpeedButton
{
    Q_OBJECT

public:
    explicit TBtnPesquisa(QWidget *parent = nullptr);

    QWidget *Associate() const { return m_associate; }
    void SetAssociate(QWidget *control);
    QString Title() const { return m_title; }
    void SetTitle(const QString &title) { m_title = title; }
    TDataSource *DataSource() const { return m_dataSource; }
    void SetDataSource(TDataSource *dataSource) { m_dataSource = dataSource; }

    // Flag handed to OnBeforePesq: true; whatever the handler leaves is ignored.
    std::function<void(QObject *sender, bool &flag)> OnBeforePesq;
    TNotifyEvent OnAfterPesq;

    // The whole press (what a click runs); true when a row was picked.
    bool Execute();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_associate;
    QString m_title;
    QPointer<TDataSource> m_dataSource;
};
