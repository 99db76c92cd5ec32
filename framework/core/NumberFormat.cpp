#include "NumberFormat.h"

#include "Errors.h"

#include <cmath>
#include <optional>

namespace {

std::optional<QLocale> &hostLocale()
{
    static std::optional<QLocale> locale;
    return locale;
}

// Decimal digits of |value| rounded to 15 significant digits: value = 0.digits * 10^point.
struct Decimal
{
    QString digits; // no leading zeros; empty for zero
    int point = 0;  // number of digits before the decimal point (may be <= 0)
};

Decimal toDecimal(double value)
{
    Decimal d;
    const double a = std::fabs(value);
    if (a == 0)
        return d;
    // "d.dddddddddddddde+XX", locale independent
    const QString e = QString::number(a, 'e', 14);
    const qsizetype ePos = e.indexOf(QLatin1Char('e'));
    QString mantissa = e.left(ePos);
    mantissa.remove(QLatin1Char('.'));
    const int exponent = e.mid(ePos + 1).toInt();
    while (mantissa.endsWith(QLatin1Char('0')))
        mantissa.chop(1);
    d.digits = mantissa;
    d.point = exponent + 1;
    return d;
}

// Keeps `decimals` digits after the point, rounding half away from zero.
void roundDecimal(Decimal &d, int decimals)
{
    const int keep = d.point + decimals;
    if (keep >= d.digits.size())
        return;
    if (keep < 0) {
        d.digits.clear();
        return;
    }
    const bool up = d.digits.at(keep) >= QLatin1Char('5');
    d.digits.truncate(keep);
    if (up) {
        int i = keep - 1;
        while (i >= 0 && d.digits.at(i) == QLatin1Char('9')) {
            d.digits[i] = QLatin1Char('0');
            --i;
        }
        if (i >= 0) {
            d.digits[i] = QChar(d.digits.at(i).unicode() + 1);
        } else {
            d.digits.prepend(QLatin1Char('1'));
            ++d.point;
        }
    }
    while (d.digits.endsWith(QLatin1Char('0')))
        d.digits.chop(1);
    if (d.digits.isEmpty())
        d.point = 0;
}

QString specialText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("NAN");
    return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
}

struct MaskSection
{
    QString prefix;
    QString suffix;
    int intZeros = 0;
    int decZeros = 0;
    int decDigits = 0; // '0' and '#' after the point
    bool grouping = false;
};

MaskSection parseSection(const QString &mask)
{
    MaskSection s;
    bool seenPlaceholder = false;
    bool seenPoint = false;
    QString pendingLiteral; // literal text after the last placeholder seen so far
    for (qsizetype i = 0; i < mask.size(); ++i) {
        const QChar c = mask.at(i);
        if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            const qsizetype end = mask.indexOf(c, i + 1);
            const QString text = mask.mid(i + 1, end < 0 ? -1 : end - i - 1);
            (seenPlaceholder ? pendingLiteral : s.prefix) += text;
            i = end < 0 ? mask.size() : end;
        } else if (c == QLatin1Char('0') || c == QLatin1Char('#')) {
            seenPlaceholder = true;
            pendingLiteral.clear();
            if (seenPoint) {
                ++s.decDigits;
                if (c == QLatin1Char('0'))
                    s.decZeros = s.decDigits;
            } else if (c == QLatin1Char('0')) {
                ++s.intZeros;
            }
        } else if (c == QLatin1Char('.') && !seenPoint) {
            seenPoint = true;
        } else if (c == QLatin1Char(',') && !seenPoint) {
            s.grouping = true;
        } else {
            (seenPlaceholder ? pendingLiteral : s.prefix) += c;
        }
    }
    s.suffix = pendingLiteral;
    return s;
}

QStringList splitSections(const QString &mask)
{
    QStringList sections;
    QString current;
    QChar quote;
    for (const QChar c : mask) {
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            quote = c;
        } else if (c == QLatin1Char(';')) {
            sections << current;
            current.clear();
            continue;
        }
        current += c;
    }
    sections << current;
    return sections;
}

} // namespace

namespace Workstation {

void setLocale(const QLocale &locale)
{
    hostLocale() = locale;
}

QLocale locale()
{
    return hostLocale() ? *hostLocale() : QLocale::system();
}

QChar decimalSeparator()
{
    const QString point = locale().decimalPoint();
    return point.isEmpty() ? QLatin1Char('.') : point.at(0);
}

} // namespace Workstation

QString FloatToStr(double value)
{
    if (!std::isfinite(value))
        return specialText(value);
    if (value == 0)
        return QStringLiteral("0");
    QString text = QString::number(value, 'g', 15);
    const qsizetype e = text.indexOf(QLatin1Char('e'));
    if (e >= 0) {
        // 1e+20 -> 1E20, 1e-05 -> 1E-5
        const int exponent = text.mid(e + 1).toInt();
        text = text.left(e) + QLatin1Char('E') + QString::number(exponent);
    }
    const QChar sep = Workstation::decimalSeparator();
    if (sep != QLatin1Char('.'))
        text.replace(QLatin1Char('.'), sep);
    return text;
}

bool TryStrToFloat(const QString &text, double *value)
{
    const QString t = text.trimmed();
    const QChar sep = Workstation::decimalSeparator();
    QString normalized;
    normalized.reserve(t.size());
    qsizetype i = 0;
    auto digitsFrom = [&]() {
        int n = 0;
        while (i < t.size() && t.at(i).isDigit() && t.at(i).unicode() < 128) {
            normalized += t.at(i++);
            ++n;
        }
        return n;
    };
    if (i < t.size() && (t.at(i) == QLatin1Char('-') || t.at(i) == QLatin1Char('+')))
        normalized += t.at(i++);
    int mantissaDigits = digitsFrom();
    if (i < t.size() && t.at(i) == sep) {
        normalized += QLatin1Char('.');
        ++i;
        mantissaDigits += digitsFrom();
    }
    if (mantissaDigits == 0)
        return false;
    if (i < t.size() && (t.at(i) == QLatin1Char('e') || t.at(i) == QLatin1Char('E'))) {
        normalized += QLatin1Char('e');
        ++i;
        if (i < t.size() && (t.at(i) == QLatin1Char('-') || t.at(i) == QLatin1Char('+')))
            normalized += t.at(i++);
        if (digitsFrom() == 0)
            return false;
    }
    if (i != t.size())
        return false;
    bool ok = false;
    const double v = QLocale::c().toDouble(normalized, &ok);
    if (!ok)
        return false;
    if (value)
        *value = v;
    return true;
}

double StrToFloat(const QString &text)
{
    double v = 0;
    if (!TryStrToFloat(text, &v))
        throw EVorError(QStringLiteral("'%1' não é um valor numérico válido.").arg(text));
    return v;
}

QString FormatFloat(const QString &mask, double value)
{
    if (mask.isEmpty() || !std::isfinite(value))
        return FloatToStr(value);

    const QStringList sections = splitSections(mask);
    QString section = sections.at(0);
    bool showSign = value < 0;
    if (value < 0 && sections.size() > 1 && !sections.at(1).isEmpty()) {
        section = sections.at(1);
        showSign = false;
    } else if (value == 0 && sections.size() > 2 && !sections.at(2).isEmpty()) {
        section = sections.at(2);
    }
    const MaskSection s = parseSection(section);

    Decimal d = toDecimal(value);
    roundDecimal(d, s.decDigits);

    QString intPart;
    QString fracPart;
    for (int pos = 0; pos < d.point; ++pos)
        intPart += pos < d.digits.size() ? d.digits.at(pos) : QLatin1Char('0');
    for (int pos = d.point; pos < d.point + s.decDigits; ++pos)
        fracPart += (pos >= 0 && pos < d.digits.size()) ? d.digits.at(pos) : QLatin1Char('0');
    while (fracPart.size() > s.decZeros && fracPart.endsWith(QLatin1Char('0')))
        fracPart.chop(1);
    while (intPart.size() < s.intZeros)
        intPart.prepend(QLatin1Char('0'));

    if (s.grouping && intPart.size() > 3) {
        const QString group = Workstation::locale().groupSeparator();
        for (qsizetype at = intPart.size() - 3; at > 0; at -= 3)
            intPart.insert(at, group);
    }

    QString out = s.prefix;
    if (showSign && !d.digits.isEmpty())
        out += QLatin1Char('-');
    out += intPart;
    if (!fracPart.isEmpty())
        out += Workstation::decimalSeparator() + fracPart;
    out += s.suffix;
    return out;
}

QString DateTimeToStr(const QDateTime &value)
{
    if (!value.isValid())
        return QString();
    return value.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
}
