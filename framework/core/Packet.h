#pragma once

#include "Field.h"

#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QVariant>
#include <vector>

// Serialised content of a dataset, as it travels between server and client:
//   {"fields":[{"name":"IDCHECK","type":"fixedstring","size":1},...],
//    "rows":[["N",1.5,null,"2026-01-05T08:00:00"],...]}
// Values in memory: QString for (fixed)strings, double for floats, QDateTime
// for date-times, an invalid QVariant for null. Date-times are wall-clock values
// without a zone, held as Qt::UTC (docs/packets.md).
struct PacketField
{
    QString name;
    TFieldType type = TFieldType::String;
    int size = 0;
    bool operator==(const PacketField &) const = default;
};

using PacketRow = std::vector<QVariant>;

struct DataPacket
{
    QList<PacketField> fields;
    std::vector<PacketRow> rows;

    int indexOf(const QString &fieldName) const;
    QJsonObject toJson() const;
    // Raises EDatabaseError naming the field or row at fault.
    static DataPacket fromJson(const QJsonValue &json);
    // The same packet (or the same error) as fromJson of the document the
    // UTF-8 text holds, read straight from the text: no document is built,
    // and equal texts in a column share one value.
    static DataPacket fromJsonText(QByteArrayView text);
};

// The text of a member's value in the JSON object `objectText` (e.g. a
// packet inside a reply); empty when the text is no object, the member is
// absent or named twice.
QByteArrayView jsonMemberText(QByteArrayView objectText, QLatin1StringView key);

// Change log: {"fields":[...],"changes":[{"op":"update","before":[...],"after":[...]}]}
struct ChangeRecord
{
    enum class Op { Insert, Update, Delete };
    Op op = Op::Update;
    PacketRow before; // empty for Insert
    PacketRow after;  // empty for Delete
};

struct ChangeLogPacket
{
    QList<PacketField> fields;
    std::vector<ChangeRecord> changes;

    QJsonObject toJson() const;
    static ChangeLogPacket fromJson(const QJsonValue &json);
};

// JSON <-> value of one field type; raise EDatabaseError when it does not fit.
QJsonValue packetValueToJson(const QVariant &value, TFieldType type);
QVariant packetValueFromJson(const QJsonValue &json, TFieldType type, int size, const QString &fieldName);
