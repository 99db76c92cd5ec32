#include "Address.h"

bool parseHostPort(QStringView text, QString *host, int *port, int minPort)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QStringView name = text.left(colon);
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    else if (name.contains(QLatin1Char(':')))
        return false;
    bool ok = false;
    const int number = text.mid(colon + 1).toInt(&ok);
    if (!ok || number < minPort || number > 65535 || name.isEmpty())
        return false;
    *host = name.toString();
    *port = number;
    return true;
}
