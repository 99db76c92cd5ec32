#include "HttpReplies.h"

#include "RpcError.h"

HttpRefusalReply httpRefusal(HttpRefusal which)
{
    switch (which) {
    case HttpRefusal::BadRequest:
        return {400, "Requisição HTTP inválida.", 0};
    case HttpRefusal::BadLength:
        return {400, "Content-Length inválido.", 0};
    case HttpRefusal::BothLengths:
        return {400, "Content-Length e Transfer-Encoding na mesma requisição.", 0};
    case HttpRefusal::BadTransferCoding:
        return {400, "Transfer-Encoding não suportado.", 0};
    case HttpRefusal::MissingHost:
        return {400, "Requisição sem o cabeçalho Host.", 0};
    case HttpRefusal::BadBody:
        return {400, "Corpo da requisição inválido.", 0};
    case HttpRefusal::NotFound:
        return {404, "Recurso inexistente.", 0};
    case HttpRefusal::MethodNotAllowed:
        return {405, "Método HTTP não permitido.", 0};
    case HttpRefusal::LengthRequired:
        return {411, "Informe o tamanho do corpo (Content-Length).", 0};
    case HttpRefusal::TooLarge:
        return {413, "A requisição excede o tamanho máximo de 16 MiB.", 0};
    case HttpRefusal::LoginTooLarge:
        return {413, "A requisição de entrada excede o tamanho máximo de 8 KiB.", 0};
    case HttpRefusal::UnsupportedEncoding:
        return {415, "Content-Encoding não suportado.", 0};
    case HttpRefusal::HeadTooLarge:
        return {431, "Cabeçalhos da requisição grandes demais.", 0};
    case HttpRefusal::Busy:
        return {503, "Servidor ocupado; tente novamente.", 1};
    }
    return {500, "Erro interno do servidor.", 0};
}

QByteArray httpRefusalBody(HttpRefusal which)
{
    return QByteArray("{\"error\":\"") + httpRefusal(which).text + "\"}";
}

QByteArray internalErrorBody()
{
    return QByteArray(R"({"jsonrpc":"2.0","id":null,"error":{"code":)") + QByteArray::number(int(RpcCode::InternalError))
           + R"(,"message":"Erro interno do servidor."}})";
}
