#pragma once

#include "ColumnWidths.h"

#include <QHashFunctions>
#include <QList>
#include <QString>
#include <utility>

class Sql;

// A text no wider than its stored column. A wider argument can match nothing
// and must not reach a CAST, which would cut it down to a value that may.
inline bool fits(const QString &value, int width)
{
    return value.size() <= width;
}

// "VARCHAR(width)": the type of a stored text column.
QString varchar(int width);
// "CAST(:NAME AS VARCHAR(width))": a text argument compared as its column's type.
QString castText(const QString &placeholder, int width);

// A project: its branch and its code, bound as :CDFILIAL and :CDPROJETO.
struct ProjectKey
{
    QString filial, projeto;

    bool operator==(const ProjectKey &) const = default;
    bool operator<(const ProjectKey &other) const
    {
        return std::pair(filial, projeto) < std::pair(other.filial, other.projeto);
    }
    bool fits() const;
    // The condition on the project's columns of `alias` ("A." or empty).
    static QString where(const QString &alias = {});
    void bind(Sql &q) const;
    // The same values for a FastRead, to which a query may add its own.
    QList<std::pair<QString, QString>> binds() const;
};

size_t qHash(const ProjectKey &k, size_t seed = 0);

// An activity: its project and its place in the project's schedule, bound
// as :NRBASELINEPR, :CDVERCRONPRJ and :CDSEQCRONPRJ besides the project's.
struct ActivityKey
{
    ProjectKey project;
    QString baseline, versao, seq;

    bool operator==(const ActivityKey &) const = default;
    bool fits() const;
    static QString where(const QString &alias = {});
    void bind(Sql &q) const;
};

size_t qHash(const ActivityKey &k, size_t seed = 0);
