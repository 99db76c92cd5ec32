#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonValue>
#include <QString>
#include <functional>

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

    explicit Service(Database &db, Clock clock = {});

    MethodResult call(const MethodInfo &method, const QJsonArray &params, const QString &operatorCode);

    // Helpers shared with the tests and the fixture loader.
    static QString hoursText(qint64 seconds, int maxLength); // "H:MM"
    static qint64 bookingSeconds(QByteArrayView start, QByteArrayView end);
    static bool parsePercent(const QString &text, double *value);
    // 'A','B' with '' for a quote inside a value; false when malformed.
    static bool parseQuotedList(const QString &text, QStringList *values);

private:
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

    Database &m_db;
    Clock m_clock;
};
