#pragma once

#include "vorremote_export.h"

#include <QObject>
#include <QSqlDatabase>
#include <QString>

// Stand-ins for the general data module's connection, database and
// transaction components: the form resources of the screens point their
// queries at them; all three lead to the same QtSql connection.
class VORREMOTE_EXPORT TADOConnection
{
public:
    explicit TADOConnection(QString connectionName) : m_connectionName(std::move(connectionName)) {}
    QString connectionName() const { return m_connectionName; }
    QSqlDatabase database() const;
    bool Connected() const;

private:
    QString m_connectionName;
};

class VORREMOTE_EXPORT TIBDatabase
{
public:
    explicit TIBDatabase(const TADOConnection &connection) : m_connection(connection) {}
    QString DatabaseName() const;
    const TADOConnection &connection() const { return m_connection; }

private:
    const TADOConnection &m_connection;
};

class VORREMOTE_EXPORT TIBTransaction
{
public:
    explicit TIBTransaction(const TADOConnection &connection) : m_connection(connection) {}
    bool InTransaction() const { return m_active; }
    // Raise EDatabaseError with the driver's text on failure.
    void StartTransaction();
    void Commit();
    void Rollback();

private:
    const TADOConnection &m_connection;
    bool m_active = false;
};

// The host's general data module: its local SQLite database.
class VORREMOTE_EXPORT TdtmDBGeral : public QObject
{
    Q_OBJECT

public:
    TdtmDBGeral();
    ~TdtmDBGeral() override;

    TADOConnection adcGeral;
    TIBDatabase dtbGeral;
    TIBTransaction ibtGeral;

    // Opens (or creates) the SQLite file and the table
    // FILIAL(CDFILIAL VARCHAR(4) PRIMARY KEY, NMFILIAL VARCHAR(30)) when missing.
    // Raises EDatabaseError with the driver's text on failure.
    void open(const QString &sqlitePath);
    void close();
    bool isOpen() const;
    QString path() const { return m_path; }

private:
    QString m_path;
};

// The one general data module of the process.
VORREMOTE_EXPORT TdtmDBGeral &dtmDBGeral();
