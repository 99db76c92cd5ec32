#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A real application server on 127.0.0.1 (free port) over a fresh SQLite
// database holding a fixture, for tests that go through the real screen.
class ServerFixture
{
public:
    struct Call
    {
        QString method;
        QJsonArray params;
        QString outcome; // "ok", "not-modified" (answered 304), or an error code
    };

    ~ServerFixture();

    // Path of the server program beside the test in <build>/bin.
    static QString serverProgram();
    static bool serverBuilt();

    // Starts the server with --import fixture; false with the reason in errorText.
    bool start(const QString &fixturePath, QString *errorText);
    void stop();
    bool running() const;
    // Freezes the server (SIGSTOP) and wakes it (SIGCONT): requests sent
    // meanwhile wait, unanswered, and are served on waking.
    void pause();
    void resume();

    QString host() const { return m_host; }
    int port() const { return m_port; }

    // Requests the server has logged so far (one JSON line each on stderr).
    QList<Call> calls();
    // Forgets the calls logged so far; calls() then lists only later ones.
    void markCalls();
    // Methods of the calls after the mark, in order.
    QStringList methodsSinceMark();
    QList<Call> callsSinceMark();

private:
    void drain();

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_host;
    int m_port = 0;
    QByteArray m_stderr;
    QList<Call> m_calls;
    int m_mark = 0;
};
