#include "DBGeral.h"

#include "Errors.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>

namespace {
const QString kConnectionName = QStringLiteral("adcGeral");

QString driverText(const QSqlError &error)
{
    const QString text = error.text().trimmed();
    return text.isEmpty() ? QStringLiteral("erro desconhecido do banco de dados local") : text;
}
} // namespace

QSqlDatabase TADOConnection::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool TADOConnection::Connected() const
{
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

QString TIBDatabase::DatabaseName() const
{
    return m_connection.database().databaseName();
}

void TIBTransaction::StartTransaction()
{
    QSqlDatabase db = m_connection.database();
    if (!db.transaction())
        throw EDatabaseError(driverText(db.lastError()));
    m_active = true;
}

void TIBTransaction::Commit()
{
    QSqlDatabase db = m_connection.database();
    m_active = false;
    if (!db.commit())
        throw EDatabaseError(driverText(db.lastError()));
}

void TIBTransaction::Rollback()
{
    QSqlDatabase db = m_connection.database();
    m_active = false;
    if (!db.rollback())
        throw EDatabaseError(driverText(db.lastError()));
}

TdtmDBGeral::TdtmDBGeral()
    : adcGeral(kConnectionName)
    , dtbGeral(adcGeral)
    , ibtGeral(adcGeral)
{
}

// The QtSql connection registry is a static that may be gone when this
// module's static dies: the connection is closed with the application instead.
TdtmDBGeral::~TdtmDBGeral() = default;

namespace {
void closeAtExit()
{
    dtmDBGeral().close();
}
} // namespace

void TdtmDBGeral::open(const QString &sqlitePath)
{
    close();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), kConnectionName);
        db.setDatabaseName(sqlitePath);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!db.open()) {
            const QString text = driverText(db.lastError());
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(kConnectionName);
            throw EDatabaseError(QStringLiteral("Não foi possível abrir o banco de dados local %1: %2")
                                     .arg(sqlitePath, text));
        }
        QSqlQuery create(db);
        if (!create.exec(QStringLiteral("CREATE TABLE IF NOT EXISTS FILIAL ("
                                        "CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY, "
                                        "NMFILIAL VARCHAR(30))"))) {
            const QString text = driverText(create.lastError());
            create = QSqlQuery();
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(kConnectionName);
            throw EDatabaseError(text);
        }
    }
    m_path = sqlitePath;
    static bool postRoutineAdded = false;
    if (!postRoutineAdded && QCoreApplication::instance()) {
        qAddPostRoutine(closeAtExit);
        postRoutineAdded = true;
    }
}

void TdtmDBGeral::close()
{
    if (!QSqlDatabase::contains(kConnectionName))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(kConnectionName, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(kConnectionName);
    m_path.clear();
}

bool TdtmDBGeral::isOpen() const
{
    return adcGeral.Connected();
}

TdtmDBGeral &dtmDBGeral()
{
    static TdtmDBGeral module;
    return module;
}
