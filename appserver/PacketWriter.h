#pragma once

#include <algorithm>

#include "Contract.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QVariant>

// Builds a data packet whose fields are the contract's list for a dataset.
class PacketWriter
{
public:
    explicit PacketWriter(const QString &dataset);
    void add(const QJsonArray &row)
    {
        Q_ASSERT(row.size() == m_fields.size());
        m_rows.append(row);
    }
    QJsonObject json() const;

    static QJsonArray fieldsJson(const QList<ContractField> &list);

private:
    const QList<ContractField> &m_fields;
    QJsonArray m_rows;
};

// The same packet written straight as JSON text, for the reads that can
// answer tens of thousands of rows: no QJsonValue per value, no second pass
// to serialise. The bytes are those QJsonDocument writes for PacketWriter's
// packet (keys in order, strings escaped alike, numbers in the shortest form).
class RawPacketWriter
{
public:
    explicit RawPacketWriter(const QString &dataset);

    void beginRow()
    {
        Q_ASSERT(m_column == m_columns || m_rows == 0);
        // Doubling ahead of the rows: growing by what each append needs cost
        // more than building the answer (tens of megabytes moved and faulted in).
        if (m_out.capacity() - m_out.size() < kRowRoom)
            m_out.reserve(std::max(m_out.capacity() * 2, m_out.size() + kRowRoom));
        m_out += m_rows++ ? ",[" : "[";
        m_column = 0;
    }
    void endRow()
    {
        Q_ASSERT(m_column == m_columns);
        m_out += ']';
    }
    void text(const QVariant &v) { v.isNull() ? null() : text(v.toString()); }
    void number(const QVariant &v) { v.isNull() ? null() : number(v.toDouble()); }
    void text(const QString &s) { text(QByteArrayView(s.toUtf8())); }
    void text(QByteArrayView utf8);
    void number(double d);
    void null()
    {
        separate();
        m_out += "null";
    }

    QByteArray finish()
    {
        m_out += "]}";
        if (m_out.capacity() > m_out.size() + m_out.size() / 4)
            m_out.squeeze(); // kept in the answer cache: no idle half
        return std::move(m_out);
    }

private:
    void separate()
    {
        if (m_column++)
            m_out += ',';
    }

    static constexpr qsizetype kRowRoom = 64 * 1024;
    QByteArray m_out;
    int m_columns;
    int m_column = 0;
    qsizetype m_rows = 0;
};
