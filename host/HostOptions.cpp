#include "HostOptions.h"

#include "Address.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>

bool parseServerAddress(const QString &text, QString *host, int *port, bool *tls)
{
    QString trimmed = text.trimmed();
    bool secure = false;
    if (trimmed.startsWith(QLatin1String("https://"), Qt::CaseInsensitive)) {
        secure = true;
        trimmed = trimmed.mid(8);
    } else if (trimmed.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)) {
        trimmed = trimmed.mid(7);
    }
    if (trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    if (!parseHostPort(trimmed, host, port))
        return false;
    if (tls)
        *tls = secure;
    return true;
}

QString serverAddressText(const QString &host, int port, bool tls)
{
    const QString name = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1%2:%3").arg(tls ? QStringLiteral("https://") : QString(), name).arg(port);
}

namespace {
// The first line of a file only its owner may read.
bool readPasswordFile(const QString &path, QString *password, QString *errorText)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *errorText = QStringLiteral("Não foi possível ler o arquivo de senha %1: %2").arg(path, f.errorString());
        return false;
    }
    const QFileDevice::Permissions others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup
                                            | QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    if (QFileInfo(path).permissions() & others) {
        *errorText = QStringLiteral("O arquivo de senha %1 pode ser lido por outros usuários; "
                                    "deixe-o só para o dono (chmod 600).").arg(path);
        return false;
    }
    QByteArray line = f.readLine(4096);
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    *password = QString::fromUtf8(line);
    return true;
}
} // namespace

bool HostOptions::parse(const QStringList &arguments, QString *errorText, QString *helpText)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Aplicação hospedeira das telas VOR."));
    parser.addHelpOption();
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Servidor de aplicação, https://HOST:PORT para conexão segura "
                                                   "(lembrado para as próximas vezes)."),
                                    QStringLiteral("HOST:PORT"));
    const QCommandLineOption ca(QStringLiteral("ca-file"),
                                QStringLiteral("Autoridade certificadora (PEM) do certificado do servidor; "
                                               "sem ela, as do sistema."),
                                QStringLiteral("FILE"));
    const QCommandLineOption op(QStringLiteral("operator"), QStringLiteral("Operador; entra sem o diálogo."),
                                QStringLiteral("CODE"));
    const QCommandLineOption pw(QStringLiteral("password"),
                                QStringLiteral("Senha do operador, só para testes: fica visível na lista de "
                                               "processos (use --password-file)."),
                                QStringLiteral("PW"));
    const QCommandLineOption pwFile(QStringLiteral("password-file"),
                                    QStringLiteral("Arquivo cuja primeira linha é a senha (só o dono pode lê-lo)."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption db(QStringLiteral("local-db"), QStringLiteral("Banco de dados local (SQLite)."),
                                QStringLiteral("PATH"));
    const QCommandLineOption loc(QStringLiteral("locale"), QStringLiteral("Formato numérico da estação (ex.: pt_BR)."),
                                 QStringLiteral("NAME"));
    const QCommandLineOption open(QStringLiteral("open"), QStringLiteral("Tela a abrir após a entrada (VOR01300)."),
                                  QStringLiteral("SCREEN"));
    const QCommandLineOption shot(QStringLiteral("screenshot"),
                                  QStringLiteral("Grava a imagem da janela principal e termina."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption type(QStringLiteral("type"),
                                  QStringLiteral("Teclas digitadas na tela aberta, como pelo usuário (\\t é Tab)."),
                                  QStringLiteral("KEYS"));
    parser.addOptions({server, ca, op, pw, pwFile, db, loc, open, shot, type});
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
        if (!parseServerAddress(parser.value(server), &serverHost, &serverPort, &serverTls)) {
            *errorText = QStringLiteral("Endereço de servidor inválido: %1 (use HOST:PORTA).").arg(parser.value(server));
            return false;
        }
        serverGiven = true;
    }
    caFile = parser.value(ca);
    operatorGiven = parser.isSet(op);
    operatorCode = parser.value(op);
    if ((parser.isSet(pw) || parser.isSet(pwFile)) && !operatorGiven) {
        *errorText = QStringLiteral("%1 precisa de --operator.").arg(parser.isSet(pw) ? QStringLiteral("--password")
                                                                                       : QStringLiteral("--password-file"));
        return false;
    }
    passwordOnCommandLine = parser.isSet(pw);
    if (passwordOnCommandLine)
        password = parser.value(pw);
    else if (parser.isSet(pwFile) && !readPasswordFile(parser.value(pwFile), &password, errorText))
        return false;
    else if (!parser.isSet(pwFile) && operatorGiven)
        password = qEnvironmentVariable("VOR_PASSWORD");
    localDb = parser.value(db);
    locale = parser.value(loc);
    openScreen = parser.value(open);
    screenshot = parser.value(shot);
    typeKeys = parser.value(type);
    typeKeys.replace(QLatin1String("\\t"), QLatin1String("\t"));
    return true;
}
