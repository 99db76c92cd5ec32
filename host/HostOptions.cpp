#include "HostOptions.h"

#include <QCommandLineParser>

bool parseServerAddress(const QString &text, QString *host, int *port)
{
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString name = trimmed.left(colon);
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2);
    else if (name.contains(QLatin1Char(':')))
        return false;
    bool ok = false;
    const int number = trimmed.mid(colon + 1).toInt(&ok);
    if (!ok || number <= 0 || number > 65535 || name.isEmpty())
        return false;
    *host = name;
    *port = number;
    return true;
}

bool HostOptions::parse(const QStringList &arguments, QString *errorText, QString *helpText)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Aplicação hospedeira das telas VOR."));
    parser.addHelpOption();
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Servidor de aplicação (lembrado para as próximas vezes)."),
                                    QStringLiteral("HOST:PORT"));
    const QCommandLineOption op(QStringLiteral("operator"), QStringLiteral("Operador; entra sem o diálogo."),
                                QStringLiteral("CODE"));
    const QCommandLineOption pw(QStringLiteral("password"), QStringLiteral("Senha do operador."),
                                QStringLiteral("PW"));
    const QCommandLineOption db(QStringLiteral("local-db"), QStringLiteral("Banco de dados local (SQLite)."),
                                QStringLiteral("PATH"));
    const QCommandLineOption loc(QStringLiteral("locale"), QStringLiteral("Formato numérico da estação (ex.: pt_BR)."),
                                 QStringLiteral("NAME"));
    const QCommandLineOption open(QStringLiteral("open"), QStringLiteral("Tela a abrir após a entrada (VOR01300)."),
                                  QStringLiteral("SCREEN"));
    const QCommandLineOption shot(QStringLiteral("screenshot"),
                                  QStringLiteral("Grava a imagem da janela principal e termina."),
                                  QStringLiteral("PATH"));
    parser.addOptions({server, op, pw, db, loc, open, shot});
    if (helpText)
        *helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        *errorText = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        *errorText = QString();
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *errorText = QStringLiteral("Argumento inesperado: %1").arg(parser.positionalArguments().first());
        return false;
    }
    if (parser.isSet(server)) {
        if (!parseServerAddress(parser.value(server), &serverHost, &serverPort)) {
            *errorText = QStringLiteral("Endereço de servidor inválido: %1 (use HOST:PORTA).").arg(parser.value(server));
            return false;
        }
        serverGiven = true;
    }
    operatorGiven = parser.isSet(op);
    operatorCode = parser.value(op);
    password = parser.value(pw);
    if (parser.isSet(pw) && !operatorGiven) {
        *errorText = QStringLiteral("--password precisa de --operator.");
        return false;
    }
    localDb = parser.value(db);
    locale = parser.value(loc);
    openScreen = parser.value(open);
    screenshot = parser.value(shot);
    return true;
}
