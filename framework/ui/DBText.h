#pragma once

#include "ClientDataSet.h"
#include "DataSource.h"

#include "vorwidgets_export.h"

#include <QLabel>
#include <QPointer>


// Label showing the display text of one field of the current row.
class VORWIDGETS_EXPORT TDBText : public QLabel
{
    Q_OBJECT

public:
    explicit TDBText(QWidget *parent = nullptr);

    TDataSource *DataSource() const { return m_dataSource; }
    void SetDataSource(TDataSource *dataSource);
    QString DataField() const { return m_dataField; }
    void SetDataField(const QString &fieldName);
    QString Caption() const { return text(); }

    void refresh();

private:
    void rebind();

    QPointer<TDataSource> m_dataSource;
    QPointer<TClientDataSet> m_dataSet;
    QString m_dataField;
    std::vector<QMetaObject::Connection> m_connections;
};
