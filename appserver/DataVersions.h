#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringView>

// Versions of what the reads return, kept in the database (VERSAODADOS) so
// that every server process on it agrees. Each project has one version for
// its activities and one for its bookings; one row with the empty key holds
// the version of the shared tables (branches, operators, work items,
// projects) and the database's epoch, a random number drawn when the schema
// was made, so that a database made again never repeats an old validator.
// Every write that changes what a read returns bumps, in its own transaction,
// the versions it touches.
namespace DataVersions {

enum Dep : unsigned {
    None = 0,
    Reference = 1,  // operators, work items, projects of a branch
    Activities = 2, // a project's activities
    Bookings = 4,   // a project's bookings (and the task numbers they show)
};

struct Stamp
{
    qint64 epoch = 0;
    qint64 reference = 0;
    qint64 activities = 0;
    qint64 bookings = 0;
};

// The table and its epoch row; part of Database::createSchema.
void createSchema(QSqlDatabase &db);

// The versions a project's reads depend on, as committed now.
Stamp read(QSqlDatabase &db, const QString &filial, const QString &projeto);

// Inside a write transaction, before anything else is written: the version
// row is locked first, so writers of one project queue on it and never hold
// activity rows in crossing orders.
void bump(QSqlDatabase &tx, const QString &filial, const QString &projeto, unsigned deps);
void bumpReference(QSqlDatabase &tx);

// The validator of a read's answer: the versions it depends on, its method
// and arguments, in the form of a weak HTTP entity tag.
QByteArray etag(const Stamp &stamp, unsigned deps, const QString &method, const QJsonArray &params);

// Whether an If-None-Match value names `etag` (weak comparison; "*" never
// matches: a call is not a stored resource).
bool matches(QByteArrayView ifNoneMatch, QByteArrayView etag);

} // namespace DataVersions
