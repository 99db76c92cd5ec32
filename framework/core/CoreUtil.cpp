#include "CoreUtil.h"

namespace VorCoreUtil {

namespace {

bool number(QStringView text, qsizetype from, qsizetype len, int *out)
{
    int v = 0;
    for (qsizetype i = from; i < from + len; ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9')
            return false;
        v = v * 10 + (c - u'0');
    }
    *out = v;
    return true;
}

} // namespace

QDateTime parseIsoDateTime(QStringView text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (text.size() != 10 && text.size() != 19)
        return {};
    if (!number(text, 0, 4, &y) || text[4] != u'-' || !number(text, 5, 2, &mo) || text[7] != u'-'
        || !number(text, 8, 2, &d))
        return {};
    if (text.size() == 19) {
        if ((text[10] != u'T' && text[10] != u' ') || !number(text, 11, 2, &h) || text[13] != u':'
            || !number(text, 14, 2, &mi) || text[16] != u':' || !number(text, 17, 2, &s))
            return {};
    }
    const QDate date(y, mo, d);
    const QTime time(h, mi, s);
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
}

QDateTime parseDateTimeText(const QString &text)
{
    const QString t = text.trimmed();
    QDateTime v = parseIsoDateTime(t);
    if (v.isValid())
        return v;
    // Date and time parsed apart, so that no local-time rule gets a say.
    const qsizetype space = t.indexOf(QLatin1Char(' '));
    const QDate date = QDate::fromString(space < 0 ? t : t.left(space), QStringLiteral("dd/MM/yyyy"));
    if (!date.isValid())
        return {};
    if (space < 0)
        return QDateTime(date, QTime(0, 0), Qt::UTC);
    const QString timeText = t.mid(space + 1).trimmed();
    QTime time = QTime::fromString(timeText, QStringLiteral("HH:mm:ss"));
    if (!time.isValid())
        time = QTime::fromString(timeText, QStringLiteral("HH:mm"));
    if (!time.isValid())
        return {};
    return QDateTime(date, time, Qt::UTC);
    return {};
}

QString isoText(const QDateTime &value)
{
    // Hand-made: QDateTime::toString(format) re-reads its format on every call,
    // which dominated the cost of writing a change log.
    if (!value.isValid())
        return QString();
    const QDate date = value.date();
    const QTime time = value.time();
    const int year = date.year();
    if (year < 0 || year > 9999)
        return value.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    char16_t buffer[19];
    auto put = [&buffer](int at, int v, int width) {
        for (int i = width - 1; i >= 0; --i, v /= 10)
            buffer[at + i] = char16_t(u'0' + v % 10);
    };
    put(0, year, 4);
    buffer[4] = u'-';
    put(5, date.month(), 2);
    buffer[7] = u'-';
    put(8, date.day(), 2);
    buffer[10] = u'T';
    put(11, time.hour(), 2);
    buffer[13] = u':';
    put(14, time.minute(), 2);
    buffer[16] = u':';
    put(17, time.second(), 2);
    return QString(reinterpret_cast<const QChar *>(buffer), 19);
}

} // namespace VorCoreUtil
