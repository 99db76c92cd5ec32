#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// The workstation's number and date format: the system locale unless the host
// sets another (pt_BR uses the decimal comma). No group separators, ever.
namespace Workstation {
void setLocale(const QLocale &locale);
QLocale locale();
QChar decimalSeparator();
} // namespace Workstation

// General format: up to 15 significant digits, the workstation's decimal
// separator, no exponent for ordinary magnitudes, no group separator.
QString FloatToStr(double value);
// Accepts the workstation format; raises EVorError on text that is not a number.
double StrToFloat(const QString &text);
bool TryStrToFloat(const QString &text, double *value);
// Masks "0", "#", "0.00", "#,##0.00" style; "0" rounds half away from zero.
QString FormatFloat(const QString &mask, double value);
// "dd/MM/yyyy HH:mm:ss" style of the workstation locale; empty for an invalid date-time.
QString DateTimeToStr(const QDateTime &value);
