#pragma once

#include <QJsonValue>
#include <QString>
#include <functional>

// Pads a code on the left with '0' up to width; longer texts come back unchanged.
QString Ajusta(const QString &text, int width);
// True for an empty text or one made only of blanks.
bool EmptyString(const QString &text);

// Shows the text as an error through the current presenter; with abort true
// then raises EAbort, which ends the running handler silently.
void MensErro(const QString &text, bool abort = true);

// Result envelope of a remote call, as the connection hands it over:
//   success: {"payload": P} (and "byref": [...] for by-reference arguments)
//   failure: {"error": {"code": N, "message": "text for the user"}}
// Returns P; on a failure shows the message (MensErro) and raises EAbort. A
// malformed envelope is reported as "Resposta inválida do servidor de aplicação."
// flag false shows the message without raising and returns an undefined value;
// number is reserved (callers pass 0).
QJsonValue CheckResultServ(const QJsonValue &result, bool flag = true, int number = 0);

// Where error texts go: a message box in the host, a recorder in tests. With no
// presenter set (or an empty one), texts go to qWarning.
using ErrorPresenter = std::function<void(const QString &text)>;
void setErrorPresenter(ErrorPresenter presenter);
ErrorPresenter errorPresenter();
