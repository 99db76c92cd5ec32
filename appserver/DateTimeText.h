#pragma once

#include <QByteArrayView>
#include <QStringView>
#include <QtGlobal>
#include <optional>

// The two date-time texts of the storage, read without a calendar library:
// a fixed layout, checked digit by digit, a real date of years 1 to 9999 and a
// time of day from 00:00:00 to 23:59:59. The value is the wall-clock count of
// seconds since 0001-01-01 00:00:00, free of time zones and daylight saving,
// so the difference of two is the time between them as the screen shows them.
// QDateTime::fromString would check the system's time-zone file on every call.
namespace DateTimeText {

namespace detail {

inline char16_t code(QChar c)
{
    return c.unicode();
}
inline char16_t code(char c)
{
    return char16_t(static_cast<unsigned char>(c));
}

template <class View>
int digits(View text, qsizetype at, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const char16_t c = code(text[at + i]);
        if (c < u'0' || c > u'9')
            return -1;
        value = value * 10 + (c - u'0');
    }
    return value;
}

inline bool leap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Days from 0001-01-01 to y-m-d (proleptic Gregorian calendar).
inline qint64 days(int y, int m, int d)
{
    static constexpr int before[] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    const qint64 py = y - 1;
    return py * 365 + py / 4 - py / 100 + py / 400 + before[m - 1] + (m > 2 && leap(y) ? 1 : 0) + (d - 1);
}

inline std::optional<qint64> seconds(int y, int mo, int d, int h, int mi, int s)
{
    static constexpr int length[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 1 || mo < 1 || mo > 12 || d < 1 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
        return std::nullopt;
    if (d > length[mo - 1] + (mo == 2 && leap(y) ? 1 : 0))
        return std::nullopt;
    return days(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

template <class View>
bool separators(View text, std::initializer_list<std::pair<int, char16_t>> at)
{
    for (const auto &[i, c] : at)
        if (code(text[i]) != c)
            return false;
    return true;
}

} // namespace detail

// "dd/MM/yyyy HH:mm:ss", as the screen shows real starts, ends and bookings
// (as text or as the UTF-8 bytes the database hands out).
template <class View>
std::optional<qint64> screenSecondsOf(View text)
{
    using namespace detail;
    if (text.size() != 19 || !separators(text, {{2, u'/'}, {5, u'/'}, {10, u' '}, {13, u':'}, {16, u':'}}))
        return std::nullopt;
    return seconds(digits(text, 6, 4), digits(text, 3, 2), digits(text, 0, 2), digits(text, 11, 2),
                   digits(text, 14, 2), digits(text, 17, 2));
}

inline std::optional<qint64> screenSeconds(QStringView text)
{
    return screenSecondsOf(text);
}
inline std::optional<qint64> screenSeconds(QByteArrayView utf8)
{
    return screenSecondsOf(utf8);
}

// "yyyy-MM-ddTHH:mm:ss", as plan, approval and last-work date-times are kept.
inline std::optional<qint64> isoSeconds(QStringView text)
{
    using namespace detail;
    if (text.size() != 19 || !separators(text, {{4, u'-'}, {7, u'-'}, {10, u'T'}, {13, u':'}, {16, u':'}}))
        return std::nullopt;
    return seconds(digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2), digits(text, 11, 2),
                   digits(text, 14, 2), digits(text, 17, 2));
}

} // namespace DateTimeText
