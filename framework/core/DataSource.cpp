#include "DataSource.h"

#include "ClientDataSet.h"

TDataSource::TDataSource(QObject *owner)
    : QObject(owner)
{
}

TDataSource::~TDataSource()
{
    if (m_dataSet)
        m_dataSet->removeStateListener(m_listenerId);
}

void TDataSource::SetDataSet(TClientDataSet *dataSet)
{
    if (dataSet == m_dataSet)
        return;
    const State before = state();
    if (m_dataSet) {
        m_dataSet->removeStateListener(m_listenerId);
        QObject::disconnect(m_connection);
    }
    m_dataSet = dataSet;
    if (m_dataSet) {
        // A plain call from the dataset: an exception raised by the handler
        // reaches the code that opened, edited, posted or closed.
        m_listenerId = m_dataSet->addStateListener([this] {
            if (OnStateChange)
                OnStateChange(this);
        });
        m_connection = connect(m_dataSet, &QObject::destroyed, this, [this] { m_dataSet = nullptr; });
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
