#pragma once

#include <QString>
#include <QStringView>

// "HOST:PORT", with an IPv6 host in brackets ("[::1]:8470"): the form in
// which the server is told where to listen and the host where to call it.
// False when the port is missing, not a number or outside minPort..65535,
// or the host is empty or an unbracketed IPv6 address (whose last group
// would pass for the port).
bool parseHostPort(QStringView text, QString *host, int *port, int minPort = 1);
