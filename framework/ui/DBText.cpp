#include "DBText.h"

#include "DataSetModel.h"
#include "Field.h"

TDBText::TDBText(QWidget *parent)
    : QLabel(parent)
{
}

void TDBText::SetDataSource(TDataSource *dataSource)
{
    if (m_dataSource)
        disconnect(m_dataSource, nullptr, this, nullptr);
    m_dataSource = dataSource;
    if (m_dataSource)
        connect(m_dataSource, &TDataSource::dataSetReplaced, this, &TDBText::rebind);
    rebind();
}

void TDBText::SetDataField(const QString &fieldName)
{
    m_dataField = fieldName;
    refresh();
}

void TDBText::rebind()
{
    for (const auto &c : m_connections)
        disconnect(c);
    m_connections.clear();
    m_dataSet = m_dataSource ? m_dataSource->DataSet() : nullptr;
    if (m_dataSet) {
        m_connections.push_back(connect(m_dataSet, &TClientDataSet::cursorMoved, this, &TDBText::refresh));
        m_connections.push_back(connect(m_dataSet, &TClientDataSet::dataSetChanged, this, &TDBText::refresh));
        m_connections.push_back(connect(m_dataSet, &TClientDataSet::recordChanged, this, &TDBText::refresh));
    }
    refresh();
}

void TDBText::refresh()
{
    QString text;
    if (m_dataSet && m_dataSet->Active() && !m_dataSet->ControlsDisabled() && !m_dataField.isEmpty()) {
        if (const TField *f = m_dataSet->FindField(m_dataField)) {
            try {
                text = f->DisplayText();
            } catch (...) {
                reportLater(std::current_exception());
            }
        }
    }
    setText(text);
}
