#include "Routines.h"

#include "Errors.h"

#include <QJsonObject>
#include <QtDebug>

namespace {

ErrorPresenter &presenterSlot()
{
    static ErrorPresenter presenter;
    return presenter;
}

void defaultPresenter(const QString &text)
{
    qWarning().noquote() << text;
}

} // namespace

QString Ajusta(const QString &text, int width)
{
    if (text.size() >= width)
        return text;
    return QString(width - text.size(), QLatin1Char('0')) + text;
}

bool EmptyString(const QString &text)
{
    return text.trimmed().isEmpty();
}

void setErrorPresenter(ErrorPresenter presenter)
{
    presenterSlot() = std::move(presenter);
}

ErrorPresenter errorPresenter()
{
    const ErrorPresenter &presenter = presenterSlot();
    return presenter ? presenter : ErrorPresenter(defaultPresenter);
}

void MensErro(const QString &text, bool abort)
{
    errorPresenter()(text);
    if (abort)
        throw EAbort();
}

QJsonValue CheckResultServ(const QJsonValue &result, bool flag, int number)
{
    Q_UNUSED(number); // kept for the callers' signature; no server failure code is tolerated
    const QJsonObject envelope = result.toObject();
    if (result.isObject() && envelope.contains(QLatin1String("payload")) && !envelope.contains(QLatin1String("error")))
        return envelope.value(QLatin1String("payload"));

    QString message;
    const QJsonValue error = envelope.value(QLatin1String("error"));
    if (error.isObject()) {
        const QJsonObject e = error.toObject();
        message = e.value(QLatin1String("message")).toString().trimmed();
        if (message.isEmpty()) {
            const QJsonValue code = e.value(QLatin1String("code"));
            message = code.isDouble()
                ? QStringLiteral("O servidor de aplicação recusou a operação (código %1).").arg(code.toInteger())
                : QStringLiteral("O servidor de aplicação recusou a operação.");
        }
    } else {
        message = QStringLiteral("Resposta inválida do servidor de aplicação.");
    }
    // flag false: report without ending the handler; the caller gets no payload.
    MensErro(message, flag);
    return QJsonValue(QJsonValue::Undefined);
}
