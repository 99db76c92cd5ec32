#pragma once

#include "Auth.h"

#include <QByteArray>
#include <QString>
#include <stdexcept>

class Database;

// A fixture refused as a whole: `path` names the JSON element at fault
// ("projects[0].activities[2].CDOPERRESP").
class FixtureError : public std::runtime_error
{
public:
    FixtureError(const QString &path, const QString &message)
        : std::runtime_error(QString(path + QStringLiteral(": ") + message).toStdString()), m_path(path), m_message(message) {}
    const QString &path() const { return m_path; }
    const QString &message() const { return m_message; }
    QString text() const { return QString(m_path + QStringLiteral(": ") + m_message); }

private:
    QString m_path;
    QString m_message;
};

namespace Fixture {
// Loads a fixture (format in docs/fixtures.md) in one transaction; raises
// FixtureError (nothing written) or DbError.
// Passwords are hashed with `passwordIterations` rounds (tests use few).
void import(Database &db, const QByteArray &json, int passwordIterations = Passwords::kDefaultIterations);
// The built-in demo data, as a fixture.
QByteArray demoJson();
// Loads the demo data when the database holds no data; true when it did.
bool loadDemoIfEmpty(Database &db);
} // namespace Fixture
