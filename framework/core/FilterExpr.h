#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>
#include <vector>

// The dataset's filter language: field names, 'string' literals ('' escapes a
// quote), numbers, = <> < > <= >=, AND, OR, NOT, parentheses, IS [NOT] NULL.
// Parsed once per filter text; evaluated per row.
class FilterExpr
{
public:
    struct Node;
    // Raises EDatabaseError naming the position (1-based) of the fault.
    static std::shared_ptr<FilterExpr> parse(const QString &text);

    // Field names the expression uses, upper-case, in order of first use.
    QStringList fieldNames() const;
    // value(i) is the value of fieldNames()[i] in the row being tested.
    bool evaluate(const std::function<QVariant(int fieldNo)> &value) const;
    // Fast path for datasets: fieldNames()[i] is row[columns[i]] (-1: null).
    bool evaluateRow(const std::vector<QVariant> &row, const std::vector<int> &columns) const;

    ~FilterExpr();

private:
    FilterExpr();
    std::unique_ptr<Node> m_root;
    QStringList m_fields;
};

// Quotes a value for the filter language: O'Brien -> 'O''Brien'.
QString QuotedStr(const QString &value);
