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
    const QByteArray fields = QJsonDocument(PacketWriter::fieldsJson(contractFields(dataset))).toJson(QJsonDocument::Compact);
    put("{\"fields\":", 10);
    put(fields.constData(), fields.size());
    put(",\"rows\":[", 9);
}

void RawPacketWriter::grow(qsizetype n)
{
    // Uninitialised room: only what is written is ever touched.
    m_out.resize(std::max({m_out.size() * 2, m_len + n, qsizetype(64 * 1024)}));
    m_base = m_out.data();
}

QByteArray RawPacketWriter::finish()
{
    put("]}", 2);
    m_out.truncate(m_len);
    if (m_out.capacity() > m_len + m_len / 4)
        m_out.squeeze(); // kept in the answer cache: no idle half
    m_base = nullptr;
    m_len = 0;
    return std::move(m_out);
}

void RawPacketWriter::text(QByteArrayView utf8)
{
    separate();
    // Room for the worst case (every byte escaped as \u00XX) once, then
    // plain stores.
    room(utf8.size() * 6 + 2);
    char *out = m_base + m_len;
    *out++ = '"';
    const char *const data = utf8.data();
    qsizetype plain = 0; // start of the run of bytes that need no escape
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        const char c = data[i];
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && c != '"' && c != '\\')
            continue;
        std::memcpy(out, data + plain, size_t(i - plain));
        out += i - plain;
        plain = i + 1;
        *out++ = '\\';
        switch (c) {
        case '"': *out++ = '"'; break;
        case '\\': *out++ = '\\'; break;
        case '\b': *out++ = 'b'; break;
        case '\f': *out++ = 'f'; break;
        case '\n': *out++ = 'n'; break;
        case '\r': *out++ = 'r'; break;
        case '\t': *out++ = 't'; break;
        default:
            *out++ = 'u';
            *out++ = '0';
            *out++ = '0';
            *out++ = "0123456789abcdef"[u >> 4];
            *out++ = "0123456789abcdef"[u & 0xf];
        }
    }
    std::memcpy(out, data + plain, size_t(utf8.size() - plain));
    out += utf8.size() - plain;
    *out++ = '"';
    m_len = out - m_base;
}

void RawPacketWriter::number(double d)
{
    separate();
    // QJsonValue keeps a whole number that fits 64 bits as an integer.
    QByteArray text;
    if (d == std::trunc(d) && d >= -9223372036854775808.0 && d < 9223372036854775808.0)
        text = QByteArray::number(qint64(d));
    else if (qIsFinite(d))
        text = QByteArray::number(d, 'g', QLocale::FloatingPointShortest);
    else
        text = QByteArrayLiteral("null");
    put(text.constData(), text.size());
}
