#pragma once

// Helpers shared by the data layer's sources; not part of its public API.

#include <QDateTime>
#include <QString>
#include <QStringView>

namespace VorCoreUtil {

// Date-times are wall-clock values without a zone: kept as Qt::UTC times so
// that no local-time rule (a DST gap at midnight) can shift or invalidate them.
inline QDateTime wallClock(const QDateTime &value)
{
    if (!value.isValid() || value.timeSpec() == Qt::UTC)
        return value;
    return QDateTime(value.date(), value.time(), Qt::UTC);
}

// "YYYY-MM-DDTHH:MM:SS" (also with a space instead of 'T', or a date alone).
QDateTime parseIsoDateTime(QStringView text);
// ISO as above, or the workstation's "dd/MM/yyyy[ HH:mm[:ss]]". Invalid when neither.
QDateTime parseDateTimeText(const QString &text);
QString isoText(const QDateTime &value);

} // namespace VorCoreUtil
