#include "Packet.h"

#include "CoreUtil.h"
#include "Errors.h"

#include <QJsonArray>

#include <cmath>

namespace {

template <typename Json>
QVariant valueFromJson(const Json &json, TFieldType type, int size, const QString &fieldName);

QJsonArray fieldsToJson(const QList<PacketField> &fields)
{
    QJsonArray out;
    for (const PacketField &f : fields) {
        QJsonObject o{{QStringLiteral("name"), f.name}, {QStringLiteral("type"), fieldTypeName(f.type)}};
        if (f.size > 0)
            o.insert(QStringLiteral("size"), f.size);
        out.append(o);
    }
    return out;
}

QList<PacketField> fieldsFromJson(const QJsonValue &json)
{
    if (!json.isArray())
        throw EDatabaseError(QStringLiteral("Pacote de dados inválido: falta a lista \"fields\"."));
    const QJsonArray array = json.toArray();
    QList<PacketField> fields;
    fields.reserve(array.size());
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QJsonObject o = array.at(i).toObject();
        PacketField f;
        f.name = o.value(QLatin1String("name")).toString();
        if (f.name.isEmpty())
            throw EDatabaseError(QStringLiteral("Pacote de dados inválido: o campo %1 não tem nome.").arg(i + 1));
        const QString typeName = o.value(QLatin1String("type")).toString();
        if (!fieldTypeFromName(typeName, &f.type))
            throw EDatabaseError(QStringLiteral("Pacote de dados inválido: tipo \"%1\" desconhecido no campo %2.")
                                     .arg(typeName, f.name));
        const QJsonValue size = o.value(QLatin1String("size"));
        if (!size.isUndefined() && !size.isNull()) {
            if (!size.isDouble() || size.toDouble() < 0 || size.toDouble() != std::floor(size.toDouble()))
                throw EDatabaseError(QStringLiteral("Pacote de dados inválido: tamanho inválido no campo %1.").arg(f.name));
            f.size = size.toInt();
        }
        fields.append(f);
    }
    return fields;
}

// `where` names the row in errors only ("a linha 3"); built lazily, since
// formatting it for every row of a large packet costs more than reading it.
template <typename Where>
PacketRow rowFromJson(const QJsonValue &json, const QList<PacketField> &fields, const Where &where)
{
    if (!json.isArray())
        throw EDatabaseError(QStringLiteral("Pacote de dados inválido: %1 não é uma lista de valores.").arg(where()));
    const QJsonArray array = json.toArray();
    if (array.size() != fields.size())
        throw EDatabaseError(QStringLiteral("Pacote de dados inválido: %1 tem %2 valores para %3 campos.")
                                 .arg(where())
                                 .arg(array.size())
                                 .arg(fields.size()));
    PacketRow row;
    row.reserve(fields.size());
    try {
        qsizetype i = 0;
        for (auto it = array.constBegin(); it != array.constEnd(); ++it, ++i) {
            const PacketField &f = fields.at(i);
            row.push_back(valueFromJson(*it, f.type, f.size, f.name));
        }
    } catch (const EDatabaseError &e) {
        throw EDatabaseError(e.message() + QStringLiteral(" (%1)").arg(where()));
    }
    return row;
}

QJsonArray rowToJson(const PacketRow &row, const QList<PacketField> &fields)
{
    QJsonArray out;
    for (size_t i = 0; i < row.size(); ++i)
        out.append(packetValueToJson(row[i], i < size_t(fields.size()) ? fields.at(qsizetype(i)).type : TFieldType::String));
    return out;
}

} // namespace

QString fieldTypeName(TFieldType type)
{
    switch (type) {
    case TFieldType::String:
        return QStringLiteral("string");
    case TFieldType::FixedString:
        return QStringLiteral("fixedstring");
    case TFieldType::Float:
        return QStringLiteral("float");
    case TFieldType::DateTime:
        return QStringLiteral("datetime");
    }
    return QString();
}

bool fieldTypeFromName(const QString &name, TFieldType *type)
{
    static const struct
    {
        const char *name;
        TFieldType type;
    } names[] = {{"string", TFieldType::String},
                 {"fixedstring", TFieldType::FixedString},
                 {"float", TFieldType::Float},
                 {"datetime", TFieldType::DateTime}};
    for (const auto &n : names) {
        if (name == QLatin1String(n.name)) {
            if (type)
                *type = n.type;
            return true;
        }
    }
    return false;
}

QJsonValue packetValueToJson(const QVariant &value, TFieldType type)
{
    if (!value.isValid() || value.isNull())
        return QJsonValue(QJsonValue::Null);
    switch (type) {
    case TFieldType::String:
    case TFieldType::FixedString:
        return value.toString();
    case TFieldType::Float: {
        const double v = value.toDouble();
        return std::isfinite(v) ? QJsonValue(v) : QJsonValue(QJsonValue::Null);
    }
    case TFieldType::DateTime:
        return VorCoreUtil::isoText(value.toDateTime());
    }
    return QJsonValue(QJsonValue::Null);
}

namespace {

// Works on QJsonValue and on QJsonValueConstRef: reading a row through the
// array's const iterator skips building a QJsonValue per value.
template <typename Json>
QVariant valueFromJson(const Json &json, TFieldType type, int size, const QString &fieldName)
{
    if (json.isNull())
        return QVariant();
    switch (type) {
    case TFieldType::String:
    case TFieldType::FixedString:
        if (json.isString()) {
            QString text = json.toString();
            if (size <= 0 || text.size() <= size)
                return text;
            throw EDatabaseError(QStringLiteral("O valor \"%1\" excede o tamanho %2 do campo %3.")
                                     .arg(text)
                                     .arg(size)
                                     .arg(fieldName));
        }
        break;
    case TFieldType::Float:
        if (json.isDouble())
            return json.toDouble();
        break;
    case TFieldType::DateTime:
        if (json.isString()) {
            const QDateTime v = VorCoreUtil::parseIsoDateTime(json.toString());
            if (v.isValid())
                return v;
        }
        break;
    }
    throw EDatabaseError(QStringLiteral("Valor inválido para o campo %1 (tipo %2).").arg(fieldName, fieldTypeName(type)));
}

} // namespace

QVariant packetValueFromJson(const QJsonValue &json, TFieldType type, int size, const QString &fieldName)
{
    return valueFromJson(json, type, size, fieldName);
}

int DataPacket::indexOf(const QString &fieldName) const
{
    for (qsizetype i = 0; i < fields.size(); ++i)
        if (fields.at(i).name.compare(fieldName, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

QJsonObject DataPacket::toJson() const
{
    QJsonArray jsonRows;
    for (const PacketRow &row : rows)
        jsonRows.append(rowToJson(row, fields));
    return QJsonObject{{QStringLiteral("fields"), fieldsToJson(fields)}, {QStringLiteral("rows"), jsonRows}};
}

DataPacket DataPacket::fromJson(const QJsonValue &json)
{
    if (!json.isObject())
        throw EDatabaseError(QStringLiteral("Pacote de dados inválido: esperado um objeto JSON."));
    const QJsonObject o = json.toObject();
    DataPacket packet;
    packet.fields = fieldsFromJson(o.value(QLatin1String("fields")));
    const QJsonValue rowsValue = o.value(QLatin1String("rows"));
    if (!rowsValue.isArray())
        throw EDatabaseError(QStringLiteral("Pacote de dados inválido: falta a lista \"rows\"."));
    const QJsonArray rows = rowsValue.toArray();
    packet.rows.reserve(size_t(rows.size()));
    for (qsizetype r = 0; r < rows.size(); ++r)
        packet.rows.push_back(
            rowFromJson(rows.at(r), packet.fields, [r] { return QStringLiteral("a linha %1").arg(r + 1); }));
    return packet;
}

QJsonObject ChangeLogPacket::toJson() const
{
    QJsonArray jsonChanges;
    for (const ChangeRecord &c : changes) {
        QString op;
        switch (c.op) {
        case ChangeRecord::Op::Insert:
            op = QStringLiteral("insert");
            break;
        case ChangeRecord::Op::Update:
            op = QStringLiteral("update");
            break;
        case ChangeRecord::Op::Delete:
            op = QStringLiteral("delete");
            break;
        }
        const QJsonValue before = c.op == ChangeRecord::Op::Insert ? QJsonValue(QJsonValue::Null)
                                                                   : QJsonValue(rowToJson(c.before, fields));
        const QJsonValue after = c.op == ChangeRecord::Op::Delete ? QJsonValue(QJsonValue::Null)
                                                                  : QJsonValue(rowToJson(c.after, fields));
        jsonChanges.append(QJsonObject{{QStringLiteral("op"), op},
                                       {QStringLiteral("before"), before},
                                       {QStringLiteral("after"), after}});
    }
    return QJsonObject{{QStringLiteral("fields"), fieldsToJson(fields)}, {QStringLiteral("changes"), jsonChanges}};
}

ChangeLogPacket ChangeLogPacket::fromJson(const QJsonValue &json)
{
    if (!json.isObject())
        throw EDatabaseError(QStringLiteral("Registro de alterações inválido: esperado um objeto JSON."));
    const QJsonObject o = json.toObject();
    ChangeLogPacket packet;
    packet.fields = fieldsFromJson(o.value(QLatin1String("fields")));
    const QJsonValue changesValue = o.value(QLatin1String("changes"));
    if (!changesValue.isArray())
        throw EDatabaseError(QStringLiteral("Registro de alterações inválido: falta a lista \"changes\"."));
    const QJsonArray changes = changesValue.toArray();
    packet.changes.reserve(size_t(changes.size()));
    for (qsizetype i = 0; i < changes.size(); ++i) {
        const QJsonObject c = changes.at(i).toObject();
        const auto where = [i] { return QStringLiteral("a alteração %1").arg(i + 1); };
        const QString op = c.value(QLatin1String("op")).toString();
        ChangeRecord record;
        if (op == QLatin1String("insert"))
            record.op = ChangeRecord::Op::Insert;
        else if (op == QLatin1String("update"))
            record.op = ChangeRecord::Op::Update;
        else if (op == QLatin1String("delete"))
            record.op = ChangeRecord::Op::Delete;
        else
            throw EDatabaseError(QStringLiteral("Registro de alterações inválido: operação \"%1\" desconhecida em %2.")
                                     .arg(op, where()));
        if (record.op != ChangeRecord::Op::Insert)
            record.before = rowFromJson(c.value(QLatin1String("before")), packet.fields, where);
        if (record.op != ChangeRecord::Op::Delete)
            record.after = rowFromJson(c.value(QLatin1String("after")), packet.fields, where);
        packet.changes.push_back(std::move(record));
    }
    return packet;
}
