#include "PacketWriter.h"

#include <QJsonDocument>
#include <QLocale>
#include <cmath>

PacketWriter::PacketWriter(const QString &dataset) : m_fields(contractFields(dataset))
{
    Q_ASSERT(!m_fields.isEmpty());
}

QJsonObject PacketWriter::json() const
{
    return QJsonObject{{QStringLiteral("fields"), fieldsJson(m_fields)}, {QStringLiteral("rows"), m_rows}};
}

QJsonArray PacketWriter::fieldsJson(const QList<ContractField> &list)
{
    QJsonArray fields;
    for (const ContractField &f : list) {
        QJsonObject o{{QStringLiteral("name"), f.name}, {QStringLiteral("type"), f.type}};
        if (f.size > 0)
            o.insert(QStringLiteral("size"), f.size);
        fields.append(o);
    }
    return fields;
}

RawPacketWriter::RawPacketWriter(const QString &dataset) : m_columns(int(contractFields(dataset).size()))
{
    m_out.reserve(4096);
    m_out += "{\"fields\":";
    m_out += QJsonDocument(PacketWriter::fieldsJson(contractFields(dataset))).toJson(QJsonDocument::Compact);
    m_out += ",\"rows\":[";
}

void RawPacketWriter::text(QByteArrayView utf8)
{
    separate();
    m_out += '"';
    const char *const data = utf8.data();
    qsizetype plain = 0; // start of the run of bytes that need no escape
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = data[i];
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && c != '"' && c != '\\')
            continue;
        m_out.append(data + plain, i - plain);
        plain = i + 1;
        m_out += '\\';
        switch (c) {
        case '"': m_out += '"'; break;
        case '\\': m_out += '\\'; break;
        case '\b': m_out += 'b'; break;
        case '\f': m_out += 'f'; break;
        case '\n': m_out += 'n'; break;
        case '\r': m_out += 'r'; break;
        case '\t': m_out += 't'; break;
        default:
            m_out += "u00";
            m_out += "0123456789abcdef"[u >> 4];
            m_out += "0123456789abcdef"[u & 0xf];
        }
    }
    m_out.append(data + plain, utf8.size() - plain);
    m_out += '"';
}

void RawPacketWriter::number(double d)
{
    separate();
    // QJsonValue keeps a whole number that fits 64 bits as an integer.
    if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
        m_out += QByteArray::number(qint64(d));
    else if (qIsFinite(d))
        m_out += QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
    else
        m_out += "null";
}
