#pragma once

#include <QString>
#include <stdexcept>

// A failure meant for the user: its text is shown by the host's standard handling.
class EVorError : public std::runtime_error
{
public:
    explicit EVorError(const QString &message)
        : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

// Ends the running handler without any further message (the text, if any,
// has been shown already).
class EAbort : public std::exception
{
public:
    const char *what() const noexcept override { return "Operation aborted"; }
};

// Raised by the dataset layer: bad packet, unknown field, wrong state, bad filter.
class EDatabaseError : public EVorError
{
public:
    using EVorError::EVorError;
};
