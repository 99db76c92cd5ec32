#pragma once

#include <QObject>
#include <functional>

class TClientDataSet;

// Links a dataset to data-aware controls and reports its state.
class TDataSource : public QObject
{
    Q_OBJECT

public:
    enum State { dsInactive = 0, dsBrowse = 1, dsEdit = 2 };
    using NotifyEvent = std::function<void(QObject *sender)>;

    explicit TDataSource(QObject *owner = nullptr);
    ~TDataSource() override;

    TClientDataSet *DataSet() const { return m_dataSet; }
    void SetDataSet(TClientDataSet *dataSet);
    State state() const;

    // Fired on open, close, edit, post and cancel of the dataset (and when
    // SetDataSet changes the state seen).
    NotifyEvent OnStateChange;

Q_SIGNALS:
    void dataSetReplaced(); // SetDataSet pointed it elsewhere

private:
    TClientDataSet *m_dataSet = nullptr;
    QMetaObject::Connection m_connection; // the dataset's destroyed()
    int m_listenerId = 0;
};
