#include "Errors.h"
#include "FilterExpr.h"
#include "NumberFormat.h"

#include <QDateTime>
#include <QTest>

namespace {

// One row: NAME string, QT float, DT date-time, OBS null string.
QVariant rowValue(const QString &field)
{
    if (field == QLatin1String("NAME"))
        return QStringLiteral("O'Brien");
    if (field == QLatin1String("CODE"))
        return QStringLiteral("0012");
    if (field == QLatin1String("QT"))
        return 12.5;
    if (field == QLatin1String("DT"))
        return QDateTime(QDate(2026, 1, 5), QTime(8, 0), Qt::UTC);
    return QVariant(); // OBS and DTNULL: null
}

bool matches(const QString &text)
{
    const auto expr = FilterExpr::parse(text);
    const QStringList names = expr->fieldNames();
    return expr->evaluate([&](int i) { return rowValue(names.at(i)); });
}

} // namespace

class TstFilter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void evaluate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");
        QTest::newRow("quote inside value") << "NAME = 'O''Brien'" << true;
        QTest::newRow("exact string, no trimming") << "NAME = 'O''Brien '" << false;
        QTest::newRow("case-sensitive value") << "NAME = 'o''brien'" << false;
        QTest::newRow("case-insensitive name") << "name = 'O''Brien'" << true;
        QTest::newRow("code keeps its zeros") << "CODE = '12'" << false;
        QTest::newRow("code as text") << "CODE = '0012'" << true;
        QTest::newRow("float numeric") << "QT = 12.50" << true;
        QTest::newRow("float against quoted number") << "QT = '12.5'" << true;
        QTest::newRow("float less") << "QT < 12.6" << true;
        QTest::newRow("float greater equal") << "QT >= 13" << false;
        QTest::newRow("negative literal") << "QT > -1" << true;
        QTest::newRow("not equal") << "QT <> 12.5" << false;
        QTest::newRow("date-time is not null") << "DT IS NOT NULL" << true;
        QTest::newRow("null date-time is null") << "DTNULL IS NULL" << true;
        QTest::newRow("null date-time is not null") << "DTNULL is not null" << false;
        QTest::newRow("string is not null") << "NAME IS NOT NULL" << true;
        QTest::newRow("null string is not null") << "OBS IS NOT NULL" << false;
        QTest::newRow("null = is false") << "OBS = ''" << false;
        QTest::newRow("null <> is false") << "OBS <> 'x'" << false;
        QTest::newRow("date-time literal") << "DT = '2026-01-05T08:00:00'" << true;
        QTest::newRow("date-time workstation literal") << "DT < '06/01/2026'" << true;
        QTest::newRow("AND binds tighter than OR") << "QT = 1 AND QT = 2 OR NAME IS NOT NULL" << true;
        QTest::newRow("parentheses") << "QT = 1 AND (QT = 2 OR NAME IS NOT NULL)" << false;
        QTest::newRow("NOT") << "NOT (QT = 1) AND NOT OBS IS NOT NULL" << true;
        QTest::newRow("bracketed name") << "[QT] = 12.5" << true;
        QTest::newRow("field against field") << "QT = QT" << true;
    }

    void evaluate()
    {
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(matches(text), expected);
    }

    void quotedStrRoundTrip()
    {
        const QString value = QStringLiteral("it's 'quoted' AND OR");
        QCOMPARE(QuotedStr(QStringLiteral("O'Brien")), QStringLiteral("'O''Brien'"));
        const auto expr = FilterExpr::parse(QStringLiteral("NAME = ") + QuotedStr(value));
        QVERIFY(expr->evaluate([&](int) { return QVariant(value); }));
        QVERIFY(!expr->evaluate([&](int) { return QVariant(QStringLiteral("it")); }));
    }

    void fieldNamesInOrder()
    {
        const auto expr = FilterExpr::parse(QStringLiteral("b = 1 AND a = 2 OR B IS NULL"));
        QCOMPARE(expr->fieldNames(), (QStringList{"B", "A"}));
        // The dataset's path: columns resolved once, then row by row.
        const std::vector<QVariant> row{QVariant(2.0), QVariant(), QVariant(1.0)};
        QVERIFY(expr->evaluateRow(row, {2, 0}));
        QVERIFY(!expr->evaluateRow(row, {0, 2}));
    }

    void errorsNamePosition_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("position");
        QTest::newRow("missing value") << "IDCHECK = " << 11;
        QTest::newRow("unterminated string") << "IDCHECK = 'S" << 11;
        QTest::newRow("no operator") << "IDCHECK 'S'" << 9;
        QTest::newRow("bad character") << "IDCHECK = 'S' && A = 1" << 15;
        QTest::newRow("unbalanced") << "(A = 1" << 7;
        QTest::newRow("stray paren") << "A = 1)" << 6;
        QTest::newRow("IS without NULL") << "A IS 1" << 6;
        QTest::newRow("empty") << "" << 1;
        QTest::newRow("double equals") << "A == 1" << 4;
    }

    void errorsNamePosition()
    {
        QFETCH(QString, text);
        QFETCH(int, position);
        try {
            FilterExpr::parse(text);
            QFAIL("parsed");
        } catch (const EDatabaseError &e) {
            QVERIFY2(e.message().contains(QStringLiteral("posição %1:").arg(position)), qPrintable(e.message()));
        }
    }
};

QTEST_GUILESS_MAIN(TstFilter)
#include "tst_filter.moc"
