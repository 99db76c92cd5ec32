// The fixed-layout date-time reader of bookings and plans, against
// QDateTime::fromString as the reference for what is a valid text, and
// against QDateTime's own arithmetic for the seconds between two texts.
#include "DateTimeText.h"
#include "Service.h"

#include <QDateTime>
#include <QTest>

class TestDateTimeText final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void screenTexts_data();
    void screenTexts();
    void isoTexts_data();
    void isoTexts();
    void secondsMatchTheCalendar();
    void bookingDurations();
};

void TestDateTimeText::screenTexts_data()
{
    QTest::addColumn<QString>("text");
    const char *const cases[] = {
        "05/01/2026 08:00:00", "31/12/9999 23:59:59", "01/01/0001 00:00:00", "29/02/2028 12:00:00",
        "29/02/2000 12:00:00", "29/02/1900 12:00:00", "29/02/2026 12:00:00", "31/04/2026 08:00:00",
        "00/01/2026 08:00:00", "05/13/2026 08:00:00", "05/00/2026 08:00:00", "05/01/0000 08:00:00",
        "05/01/2026 24:00:00", "05/01/2026 23:60:00", "05/01/2026 08:00:60", "5/01/2026 08:00:00",
        "05/1/2026 08:00:00",  "05/01/2026 8:00:00",  " 05/01/2026 08:00:00", "05/01/2026 08:00:00 ",
        "05/01/2026T08:00:00", "05-01-2026 08:00:00", "05/01/2026 08:00",    "",
        "05/01/2026 08:00:0x", "aa/bb/cccc dd:ee:ff", "05/01/-026 08:00:00", "05/01/2026 08.00.00",
    };
    for (const char *c : cases)
        QTest::newRow(c) << QString::fromLatin1(c);
    QTest::newRow("full-width digit") << QStringLiteral("０5/01/2026 08:00:00");
}

void TestDateTimeText::screenTexts()
{
    QFETCH(QString, text);
    const QDateTime reference = QDateTime::fromString(text, QStringLiteral("dd/MM/yyyy HH:mm:ss"), QCalendar());
    QCOMPARE(DateTimeText::screenSeconds(text).has_value(), reference.isValid());
}

void TestDateTimeText::isoTexts_data()
{
    QTest::addColumn<QString>("text");
    const char *const cases[] = {
        "2026-01-05T08:00:00", "2028-02-29T23:59:59", "2026-02-29T08:00:00", "2026-01-05 08:00:00",
        "2026-1-05T08:00:00",  "2026-01-05T08:00:00Z", "2026-01-05T25:00:00", "0000-01-05T08:00:00",
        "2026-12-31T00:00:00", "2026-06-31T00:00:00",
    };
    for (const char *c : cases)
        QTest::newRow(c) << QString::fromLatin1(c);
}

void TestDateTimeText::isoTexts()
{
    QFETCH(QString, text);
    const QDateTime reference = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ss"), QCalendar());
    QCOMPARE(DateTimeText::isoSeconds(text).has_value(), reference.isValid());
}

// Every few hours over three centuries: the difference of two readings is
// the calendar's (UTC, so no daylight-saving gap bends it).
void TestDateTimeText::secondsMatchTheCalendar()
{
    const QDateTime origin(QDate(1900, 1, 1), QTime(0, 0), Qt::UTC);
    const qint64 originSeconds = *DateTimeText::isoSeconds(u"1900-01-01T00:00:00");
    int checked = 0;
    for (QDateTime t = origin; t.date().year() < 2200; t = t.addSecs(37 * 3600 + 61)) {
        const QString screen = t.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
        const QString iso = t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
        const std::optional<qint64> s = DateTimeText::screenSeconds(screen), i = DateTimeText::isoSeconds(iso);
        QVERIFY2(s && i, qPrintable(screen));
        QCOMPARE(*s, *i);
        QCOMPARE(*s - originSeconds, origin.secsTo(t));
        ++checked;
    }
    QVERIFY(checked > 50000);
}

void TestDateTimeText::bookingDurations()
{
    // Across a month, a year and a leap day; an end before the start, a
    // missing or malformed end count as nothing.
    QCOMPARE(Service::bookingSeconds("31/01/2026 22:00:00", "01/02/2026 02:30:00"), 4 * 3600 + 1800);
    QCOMPARE(Service::bookingSeconds("31/12/2027 23:00:00", "01/01/2028 01:00:00"), 2 * 3600);
    QCOMPARE(Service::bookingSeconds("28/02/2028 12:00:00", "01/03/2028 12:00:00"), 2 * 86400);
    QCOMPARE(Service::bookingSeconds("28/02/2026 12:00:00", "01/03/2026 12:00:00"), 86400);
    QCOMPARE(Service::bookingSeconds("05/01/2026 08:00:00", "05/01/2026 08:00:00"), 0);
    QCOMPARE(Service::bookingSeconds("05/01/2026 08:00:01", "05/01/2026 08:00:00"), 0);
    QCOMPARE(Service::bookingSeconds("05/01/2026 08:00:00", "31/02/2026 08:00:00"), 0);
    QCOMPARE(Service::bookingSeconds(QByteArray(), "05/01/2026 08:00:00"), 0);
}

QTEST_GUILESS_MAIN(TestDateTimeText)
#include "tst_appserver_datetime.moc"
