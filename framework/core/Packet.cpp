#include "Packet.h"

#include "CoreUtil.h"
#include "Errors.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>

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

// --- packets read straight from their text ----------------------------------

namespace {

// Reads a packet from JSON text without building a document. Whatever it does
// not take as it stands (a syntax error, a value of another kind than its
// field's, a key written with escapes, rows ahead of the fields, a member
// named twice, a lone surrogate) makes read() return false, and the caller
// leaves the text to the document reader, which gives the packet or the
// error it always gave.
class PacketTextReader
{
public:
    explicit PacketTextReader(QByteArrayView text) : m_p(text.data()), m_end(text.data() + text.size()) {}

    bool read(DataPacket *packet)
    {
        bool haveFields = false, haveRows = false;
        if (!object([&](QByteArrayView key) {
                if (key == "fields") {
                    if (haveFields)
                        return false;
                    haveFields = true;
                    return fields(packet);
                }
                if (key == "rows") {
                    if (haveRows || !haveFields)
                        return false;
                    haveRows = true;
                    return rows(packet);
                }
                return skipValue(0);
            }))
            return false;
        space();
        return haveFields && haveRows && m_p == m_end;
    }

    // The value text of `key` in the object; empty when not found as it should be.
    QByteArrayView member(QLatin1StringView key)
    {
        QByteArrayView found;
        int times = 0;
        if (!object([&](QByteArrayView name) {
                space();
                const char *from = m_p;
                if (!skipValue(0))
                    return false;
                if (name == QByteArrayView(key.data(), key.size())) {
                    found = QByteArrayView(from, m_p - from);
                    ++times;
                }
                return true;
            }))
            return {};
        space();
        return m_p == m_end && times == 1 ? found : QByteArrayView();
    }

private:
    // One value already made for each of the last texts seen in a column, so
    // that repeated texts (codes, names, dates) become one shared value.
    struct Seen
    {
        const char *text = nullptr;
        qsizetype size = -1;
        QVariant value;
    };
    static constexpr int kSeenSlots = 64;

    void space()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }
    bool take(char c)
    {
        space();
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }
    bool peek(char c)
    {
        space();
        return m_p < m_end && *m_p == c;
    }
    bool word(const char *w)
    {
        const qsizetype n = qsizetype(std::strlen(w));
        if (m_end - m_p < n || std::memcmp(m_p, w, size_t(n)) != 0)
            return false;
        m_p += n;
        return true;
    }

    // An object, each member's value read by `onMember` (positioned after the colon).
    template <typename OnMember>
    bool object(OnMember onMember)
    {
        if (!take('{'))
            return false;
        if (take('}'))
            return true;
        do {
            space();
            const char *begin = nullptr, *end = nullptr;
            bool escaped = false, ascii = true;
            if (!string(&begin, &end, &escaped, &ascii) || escaped || !take(':'))
                return false;
            if (!onMember(QByteArrayView(begin, end - begin)))
                return false;
        } while (take(','));
        return take('}');
    }

    // Bytes that end a plain run inside a string: the quote, the backslash,
    // control characters and the start of any non-ASCII sequence.
    static const std::array<bool, 256> &special()
    {
        static const std::array<bool, 256> table = [] {
            std::array<bool, 256> t{};
            for (int c = 0; c < 256; ++c)
                t[size_t(c)] = c < 0x20 || c >= 0x80 || c == '"' || c == '\\';
            return t;
        }();
        return table;
    }

    // A string's text between its quotes, checked but not decoded.
    bool string(const char **begin, const char **end, bool *escaped, bool *ascii)
    {
        if (m_p >= m_end || *m_p != '"')
            return false;
        *begin = ++m_p;
        const std::array<bool, 256> &stop = special();
        while (m_p < m_end) {
            while (m_p < m_end && !stop[static_cast<unsigned char>(*m_p)])
                ++m_p;
            if (m_p >= m_end)
                return false;
            const unsigned char c = static_cast<unsigned char>(*m_p);
            if (c == '"') {
                *end = m_p++;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c >= 0x80)
                *ascii = false;
            if (c == '\\') {
                *escaped = true;
                if (++m_p >= m_end)
                    return false;
                if (*m_p == 'u') {
                    if (m_end - m_p < 5)
                        return false;
                    for (int i = 1; i <= 4; ++i)
                        if (!std::isxdigit(static_cast<unsigned char>(m_p[i])))
                            return false;
                    m_p += 4;
                } else if (!std::strchr("\"\\/bfnrt", *m_p) || *m_p == '\0') {
                    return false;
                }
            }
            ++m_p;
        }
        return false;
    }

    // Well-formed UTF-8 of characters that are neither surrogates nor
    // noncharacters: text any reader takes as it stands.
    static bool plainUtf8(const char *begin, const char *end)
    {
        const auto *p = reinterpret_cast<const unsigned char *>(begin);
        const auto *e = reinterpret_cast<const unsigned char *>(end);
        while (p < e) {
            if (*p < 0x80) {
                ++p;
                continue;
            }
            int n = *p >= 0xF0 ? 3 : *p >= 0xE0 ? 2 : *p >= 0xC2 ? 1 : -1;
            if (n < 0 || *p > 0xF4 || e - p <= n)
                return false;
            char32_t c = *p & (0x3F >> n);
            for (int i = 1; i <= n; ++i) {
                if ((p[i] & 0xC0) != 0x80)
                    return false;
                c = (c << 6) | (p[i] & 0x3F);
            }
            const char32_t least[] = {0, 0x80, 0x800, 0x10000};
            if (c < least[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF) || (c >= 0xFDD0 && c <= 0xFDEF)
                || (c & 0xFFFE) == 0xFFFE)
                return false;
            p += n + 1;
        }
        return true;
    }

    static bool utf8(const char *begin, qsizetype size, QString *out)
    {
        *out = QString::fromUtf8(begin, size);
        // A replacement character that the text did not spell out is a
        // malformed sequence: the document reader decides about those.
        return !out->contains(QChar::ReplacementCharacter);
    }

    static bool decode(const char *begin, const char *end, bool escaped, bool ascii, QString *out)
    {
        if (!escaped) {
            if (ascii) {
                *out = QString::fromLatin1(begin, end - begin);
                return true;
            }
            return utf8(begin, end - begin, out);
        }
        QString text;
        text.reserve(end - begin);
        const char *run = begin;
        auto flush = [&](const char *upTo) {
            if (upTo == run)
                return true;
            QString part;
            if (!utf8(run, upTo - run, &part))
                return false;
            text += part;
            return true;
        };
        auto hex = [](const char *p) { return char16_t(std::strtoul(std::string(p, 4).c_str(), nullptr, 16)); };
        for (const char *p = begin; p < end; ++p) {
            if (*p != '\\')
                continue;
            if (!flush(p))
                return false;
            const char e = *++p;
            switch (e) {
            case 'b': text += QChar(u'\b'); break;
            case 'f': text += QChar(u'\f'); break;
            case 'n': text += QChar(u'\n'); break;
            case 'r': text += QChar(u'\r'); break;
            case 't': text += QChar(u'\t'); break;
            case 'u': {
                const char16_t unit = hex(p + 1);
                p += 4;
                if (QChar::isLowSurrogate(unit))
                    return false;
                if (QChar::isHighSurrogate(unit)) {
                    if (end - p < 7 || p[1] != '\\' || p[2] != 'u' || !QChar::isLowSurrogate(hex(p + 3)))
                        return false;
                    text += QChar(unit);
                    text += QChar(hex(p + 3));
                    p += 6;
                } else {
                    text += QChar(unit);
                }
                break;
            }
            default: text += QLatin1Char(e); break; // " \ /
            }
            run = p + 1;
        }
        if (!flush(end))
            return false;
        *out = std::move(text);
        return true;
    }

    // A number as the document reader reads it: an integer written as one
    // and fitting 64 bits is exact before it becomes a double.
    bool number(double *out)
    {
        const char *begin = m_p;
        if (m_p < m_end && *m_p == '-')
            ++m_p;
        if (m_p >= m_end || !std::isdigit(static_cast<unsigned char>(*m_p)))
            return false;
        if (*m_p == '0')
            ++m_p;
        else
            while (m_p < m_end && std::isdigit(static_cast<unsigned char>(*m_p)))
                ++m_p;
        bool integer = true;
        if (m_p < m_end && *m_p == '.') {
            integer = false;
            if (++m_p >= m_end || !std::isdigit(static_cast<unsigned char>(*m_p)))
                return false;
            while (m_p < m_end && std::isdigit(static_cast<unsigned char>(*m_p)))
                ++m_p;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            integer = false;
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (m_p >= m_end || !std::isdigit(static_cast<unsigned char>(*m_p)))
                return false;
            while (m_p < m_end && std::isdigit(static_cast<unsigned char>(*m_p)))
                ++m_p;
        }
        if (integer) {
            qint64 n = 0;
            const auto r = std::from_chars(begin, m_p, n);
            if (r.ec == std::errc() && r.ptr == m_p) {
                *out = double(n);
                return true;
            }
        }
        const auto r = std::from_chars(begin, m_p, *out);
        if (r.ec != std::errc() || r.ptr != m_p || !std::isfinite(*out))
            return false;
        // The document keeps a whole number as an integer, which has no -0.
        if (*out == 0)
            *out = 0;
        return true;
    }

    bool skipValue(int depth)
    {
        space();
        if (m_p >= m_end || depth > 64)
            return false;
        switch (*m_p) {
        case '"': {
            const char *b, *e;
            bool escaped = false, ascii = true;
            if (!string(&b, &e, &escaped, &ascii))
                return false;
            if (escaped) {
                QString ignored;
                return decode(b, e, escaped, ascii, &ignored);
            }
            return ascii || plainUtf8(b, e);
        }
        case '{':
            return object([&](QByteArrayView) { return skipValue(depth + 1); });
        case '[':
            ++m_p;
            if (take(']'))
                return true;
            do {
                if (!skipValue(depth + 1))
                    return false;
            } while (take(','));
            return take(']');
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default: {
            double ignored;
            return number(&ignored);
        }
        }
    }

    bool fields(DataPacket *packet)
    {
        space();
        const char *begin = m_p;
        if (!skipValue(0))
            return false;
        // A few fields: the document reader checks them, with its messages.
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromRawData(begin, m_p - begin));
        if (!document.isArray())
            return false;
        packet->fields = fieldsFromJson(document.array());
        return true;
    }

    bool rows(DataPacket *packet)
    {
        const qsizetype width = packet->fields.size();
        std::vector<Seen> seen(size_t(width * kSeenSlots));
        if (!take('['))
            return false;
        if (take(']'))
            return true;
        do {
            if (!take('['))
                return false;
            PacketRow row;
            row.reserve(size_t(width));
            for (qsizetype i = 0; i < width; ++i) {
                if (i > 0 && !take(','))
                    return false;
                space();
                if (!value(packet->fields.at(i), &seen[size_t(i * kSeenSlots)], &row))
                    return false;
            }
            if (!take(']'))
                return false;
            packet->rows.push_back(std::move(row));
        } while (take(','));
        return take(']');
    }

    bool value(const PacketField &field, Seen *slots, PacketRow *row)
    {
        if (m_p >= m_end)
            return false;
        if (*m_p == 'n') {
            if (!word("null"))
                return false;
            row->emplace_back();
            return true;
        }
        if (field.type == TFieldType::Float) {
            double v = 0;
            if (!number(&v))
                return false;
            row->emplace_back(v);
            return true;
        }
        const char *begin = nullptr, *end = nullptr;
        bool escaped = false, ascii = true;
        if (!string(&begin, &end, &escaped, &ascii))
            return false;
        const qsizetype size = end - begin;
        size_t hash = 2166136261u ^ size_t(size);
        for (const char *c = begin; c < end; ++c)
            hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        Seen &slot = slots[hash % kSeenSlots];
        if (slot.size == size && std::memcmp(slot.text, begin, size_t(size)) == 0) {
            row->push_back(slot.value);
            return true;
        }
        QString text;
        if (!decode(begin, end, escaped, ascii, &text))
            return false;
        QVariant v;
        if (field.type == TFieldType::DateTime) {
            const QDateTime dateTime = VorCoreUtil::parseIsoDateTime(text);
            if (!dateTime.isValid())
                return false;
            v = dateTime;
        } else {
            if (field.size > 0 && text.size() > field.size)
                return false;
            v = std::move(text);
        }
        slot = Seen{begin, size, v};
        row->push_back(std::move(v));
        return true;
    }

    const char *m_p;
    const char *m_end;
};

} // namespace

DataPacket DataPacket::fromJsonText(QByteArrayView text)
{
    try {
        DataPacket packet;
        if (PacketTextReader(text).read(&packet))
            return packet;
    } catch (const EDatabaseError &) {
        // Left to the document reader below, whose error it is.
    }
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray());
    return fromJson(document.isObject() ? QJsonValue(document.object())
                    : document.isArray() ? QJsonValue(document.array())
                                         : QJsonValue());
}

QByteArrayView jsonMemberText(QByteArrayView objectText, QLatin1StringView key)
{
    return PacketTextReader(objectText).member(key);
}
