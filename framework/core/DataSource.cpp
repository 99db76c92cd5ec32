#include "DataSource.h"

#include "ClientDataSet.h"

TDataSource::TDataSource(QObject *owner)
    : QObject(owner)
{
}

void TDataSource::SetDataSet(TClientDataSet *dataSet)
{
    if (dataSet == m_dataSet)
        return;
    const State before = state();
    QObject::disconnect(m_connection);
    QObject::disconnect(m_destroyedConnection);
    m_dataSet = dataSet;
    if (m_dataSet) {
        // Direct: the handler runs inside the dataset call that changed the
        // state, so an exception it raises reaches that call's caller.
        m_connection = connect(m_dataSet, &TClientDataSet::stateChanged, this, [this] {
            if (OnStateChange)
                OnStateChange(this);
        }, Qt::DirectConnection);
        m_destroyedConnection = connect(m_dataSet, &QObject::destroyed, this, [this] {
            m_dataSet = nullptr;
            QObject::disconnect(m_connection);
        });
    }
    Q_EMIT dataSetReplaced();
    if (state() != before && OnStateChange)
        OnStateChange(this);
}

TDataSource::State TDataSource::state() const
{
    if (!m_dataSet)
        return dsInactive;
    switch (m_dataSet->state()) {
    case TClientDataSet::State::Inactive:
        return dsInactive;
    case TClientDataSet::State::Browse:
        return dsBrowse;
    case TClientDataSet::State::Edit:
        return dsEdit;
    }
    return dsInactive;
}
