#pragma once

#include <QString>
#include <stdexcept>

// JSON-RPC error codes of this server. Messages that carry one of them are
// shown to the user as they are, so they are Portuguese sentences.
enum class RpcCode : int {
    ParseError = -32700,
    InvalidRequest = -32600,
    MethodNotFound = -32601,
    InvalidParams = -32602,
    InternalError = -32603,
    NotLoggedIn = -32001,
    NotAllowed = -32003,
    DatabaseError = -32010, // storage failed; nothing was written
    NotFound = -32011,      // a record the request names does not exist
};

class RpcError : public std::runtime_error
{
public:
    RpcError(RpcCode code, const QString &message)
        : std::runtime_error(message.toStdString()), m_code(code), m_message(message) {}
    RpcCode code() const { return m_code; }
    const QString &message() const { return m_message; }

private:
    RpcCode m_code;
    QString m_message;
};
