#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QSqlDatabase>
#include <QJsonArray>
#include <QJsonValue>
#include <QString>
#include <functional>
#include <memory>

class Database;
struct MethodInfo;

// Result of one remote method: the payload, and for methods with
// by-reference arguments their values as the server leaves them.
struct MethodResult
{
    QJsonValue payload;
    QByteArray rawPayload; // when not empty, the payload already written as JSON text
    QJsonArray byref;
    bool hasByref = false;
};

// The ten methods of the remote module over the storage. Arguments arrive
// already checked for count and JSON type; everything else is checked here
// and refused with RpcError before anything is written.
class Service final
{
public:
    using Clock = std::function<QDateTime()>; // local date-time of the server

    // The first Service made checks its methods against the contract and
    // throws std::logic_error if they differ.
    explicit Service(Database &db, Clock clock = {});

    // Runs one of the contract's methods; its by-reference arguments come
    // back as they were sent.
    MethodResult call(const MethodInfo &method, const QJsonArray &params, const QString &operatorCode);

    // Whether a contract method only reads; false for the writes and for a
    // name the contract does not have.
    static bool isRead(const QString &method);
    // The data versions (DataVersions::Dep) a read's answer depends on; 0 for
    // the writes and unknown names.
    static unsigned dependsOn(QStringView method);

    // Helpers shared with the tests and the fixture loader.
    static QString hoursText(qint64 seconds, int maxLength); // "H:MM"
    static qint64 bookingSeconds(QByteArrayView start, QByteArrayView end);
    static bool parsePercent(const QString &text, double *value);
    // 'A','B' with '' for a quote inside a value; false when malformed.
    static bool parseQuotedList(const QString &text, QStringList *values);

private:
    // What runs a method, one per method of the contract, by its name.
    struct Handler
    {
        unsigned reads; // DataVersions::Dep: what a read's answer depends on; None for a write
        MethodResult (*run)(Service &service, const QJsonArray &params, const QString &operatorCode);
    };
    static const QHash<QString, Handler> &handlers();

    QByteArray activities(const QJsonArray &p, bool filtered);
    QByteArray bookings(const QJsonArray &p);
    QByteArray projectBookings(const QJsonArray &p);
    QJsonValue plan(const QJsonArray &p);
    QJsonValue projects(const QJsonArray &p);
    QJsonValue operators(const QJsonArray &p);
    QJsonValue workItems(const QJsonArray &p);
    QJsonValue pickList(const QJsonArray &p, const QString &dataset, const QString &allWhat, const QString &select,
                        const QString &codeColumn, int codeWidth, const QString &orderBy);
    void approve(const QJsonValue &packet, const QString &operatorCode);
    void updatePercent(const QJsonArray &p, const QString &operatorCode);

    // Booked seconds of a project's activities (by schedule key) and their
    // total, read once per version of the project's bookings.
    struct BookedTime
    {
        QHash<QByteArray, qint64> perActivity;
        qint64 total = 0;
    };
    std::shared_ptr<const BookedTime> bookedTime(QSqlDatabase &db, const QString &filial, const QString &projeto);

    Database &m_db;
    Clock m_clock;
    QMutex m_bookedMutex;
    QHash<QString, std::pair<qint64, std::shared_ptr<const BookedTime>>> m_booked; // by project: version, time
};
