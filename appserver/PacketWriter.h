#pragma once

#include <algorithm>
#include <cstring>

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
        if (m_rows++)
            put(',');
        put('[');
        m_column = 0;
    }
    void endRow()
    {
        Q_ASSERT(m_column == m_columns);
        put(']');
    }
    void text(const QVariant &v) { v.isNull() ? null() : text(v.toString()); }
    void number(const QVariant &v) { v.isNull() ? null() : number(v.toDouble()); }
    void text(const QString &s) { text(QByteArrayView(s.toUtf8())); }
    void text(QByteArrayView utf8);
    void number(double d);
    void null()
    {
        separate();
        put("null", 4);
    }

    QByteArray finish();

private:
    void separate()
    {
        if (m_column++)
            put(',');
    }
    // Written through a cursor into room made ahead (doubling): appending
    // value by value through QByteArray cost more than reading the rows.
    void room(qsizetype n)
    {
        if (m_len + n > m_out.size())
            grow(n);
    }
    void grow(qsizetype n);
    void put(char c)
    {
        room(1);
        m_base[m_len++] = c;
    }
    void put(const char *data, qsizetype n)
    {
        room(n);
        std::memcpy(m_base + m_len, data, size_t(n));
        m_len += n;
    }

    QByteArray m_out; // its size is the room; m_len bytes are written
    char *m_base = nullptr;
    qsizetype m_len = 0;
    int m_columns;
    int m_column = 0;
    qsizetype m_rows = 0;
};
