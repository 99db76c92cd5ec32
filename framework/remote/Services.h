#pragma once

#include "vorremote_export.h"

#include <QString>

#include <functional>

// Who is logged in and where the application server is. Set by the host,
// read by the screens (Operador is compared with a project's responsible
// operator; WebURL and WebPort are copied into a connection before it opens).
VORREMOTE_EXPORT QString Operador();
VORREMOTE_EXPORT QString WebURL();
VORREMOTE_EXPORT int WebPort();

VORREMOTE_EXPORT void setOperador(const QString &code);
VORREMOTE_EXPORT void setWebURL(const QString &host);
VORREMOTE_EXPORT void setWebPort(int port);

// Token of the session opened by login(); sent by every TNetConnection call.
VORREMOTE_EXPORT QString sessionToken();
VORREMOTE_EXPORT void setSessionToken(const QString &token);

// POST /session on host:port. On success records the operator code and the
// token (Operador(), sessionToken()) and returns true; operatorName, when
// given, receives the operator's name. On failure returns false with a
// sentence for the user in errorText and changes nothing.
VORREMOTE_EXPORT bool login(const QString &host, int port, const QString &operatorCode, const QString &password,
           QString *errorText, QString *operatorName = nullptr);

// Asked when the server no longer knows the session (it restarted, or the
// session idled out): logs in again and returns true, or returns false and
// the call fails as the server answered. The host sets it after its login.
using SessionRenewer = std::function<bool()>;
VORREMOTE_EXPORT void setSessionRenewer(SessionRenewer renewer);
// Runs the renewer; false when there is none or one is already running.
VORREMOTE_EXPORT bool renewSession();

// DELETE /session for the current token (best effort), then forgets it.
VORREMOTE_EXPORT void logout();

// Time limit of the login and logout exchanges (default 30 s).
VORREMOTE_EXPORT void setSessionTimeoutMs(int milliseconds);
