#include "Guard.h"

#include "Errors.h"
#include "Routines.h"

#include <QString>
#include <QtDebug>

bool runGuarded(const std::function<void()> &handler) noexcept
{
    try {
        if (handler)
            handler();
        return true;
    } catch (const EAbort &) {
        return false; // already reported by whoever raised it
    } catch (...) {
        handleException(std::current_exception());
        return false;
    }
}

void handleException(std::exception_ptr error) noexcept
{
    if (!error)
        return;
    QString text;
    try {
        std::rethrow_exception(error);
    } catch (const EAbort &) {
        return;
    } catch (const EVorError &e) {
        text = e.message();
    } catch (const std::exception &e) {
        text = QString::fromLocal8Bit(e.what());
    } catch (...) {
        text = QStringLiteral("Ocorreu um erro inesperado.");
    }
    if (text.trimmed().isEmpty())
        text = QStringLiteral("Ocorreu um erro inesperado.");
    try {
        errorPresenter()(text);
    } catch (...) {
        // A presenter that fails must not take the application down with it.
        qWarning().noquote() << text;
    }
}
