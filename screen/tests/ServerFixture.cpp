#include "ServerFixture.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <sys/prctl.h>

ServerFixture::~ServerFixture()
{
    stop();
}

QString ServerFixture::serverProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/vor01300-server");
}

bool ServerFixture::serverBuilt()
{
    return QFileInfo(serverProgram()).isExecutable();
}

bool ServerFixture::start(const QString &fixturePath, QString *errorText)
{
    const QString db = m_dir.filePath(QStringLiteral("server.sqlite"));
    m_process.setProgram(serverProgram());
    m_process.setArguments({QStringLiteral("--database"), QStringLiteral("sqlite:") + db,
                            QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                            QStringLiteral("--import"), fixturePath});
    // A test that dies (timeout, crash) takes its server with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start();
    if (!m_process.waitForStarted(10000)) {
        *errorText = QStringLiteral("server did not start: ") + m_process.errorString();
        return false;
    }
    QByteArray out;
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            if (m_process.state() != QProcess::Running)
                break;
            continue;
        }
        out += m_process.readAllStandardOutput();
        const int at = out.indexOf("listening on ");
        const int end = at < 0 ? -1 : out.indexOf('\n', at);
        if (end > at) {
            const QString address = QString::fromUtf8(out.mid(at + 13, end - at - 13)).trimmed();
            const int colon = address.lastIndexOf(QLatin1Char(':'));
            m_host = address.left(colon);
            m_port = address.mid(colon + 1).toInt();
            return m_port > 0;
        }
    }
    *errorText = QStringLiteral("server gave no address: ") + QString::fromUtf8(m_process.readAllStandardError());
    return false;
}

void ServerFixture::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

void ServerFixture::pause()
{
    if (running())
        ::kill(pid_t(m_process.processId()), SIGSTOP);
}

void ServerFixture::resume()
{
    if (running())
        ::kill(pid_t(m_process.processId()), SIGCONT);
}

bool ServerFixture::running() const
{
    return m_process.state() == QProcess::Running;
}

void ServerFixture::drain()
{
    m_stderr += m_process.readAllStandardError();
    int end;
    while ((end = m_stderr.indexOf('\n')) >= 0) {
        const QByteArray line = m_stderr.left(end);
        m_stderr.remove(0, end + 1);
        const QJsonObject entry = QJsonDocument::fromJson(line).object();
        if (entry.contains(QStringLiteral("method")))
            m_calls.append({entry.value(QStringLiteral("method")).toString(),
                            entry.value(QStringLiteral("params")).toArray(),
                            entry.value(QStringLiteral("outcome")).toVariant().toString()});
    }
}

QList<ServerFixture::Call> ServerFixture::calls()
{
    // The server logs a request after answering it: callers wait with QTRY_*.
    drain();
    return m_calls;
}

void ServerFixture::markCalls()
{
    m_mark = int(calls().size());
}

QList<ServerFixture::Call> ServerFixture::callsSinceMark()
{
    return calls().mid(m_mark);
}

QStringList ServerFixture::methodsSinceMark()
{
    QStringList names;
    for (const Call &call : callsSinceMark())
        names << call.method;
    return names;
}
