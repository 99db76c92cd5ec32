#pragma once

#include "ScreenHarness.h"

#include <QObject>
#include <QStringList>

class TfrmConcAtivProj;

// The set-up a screen test program shares: one host with the screen open on
// its own real server, which holds the given fixture. A program whose server
// is not built skips.
class ScreenCase : public QObject
{
    Q_OBJECT

public:
    explicit ScreenCase(const QString &fixture = QStringLiteral(VOR_SCREEN_FIXTURE))
        : m_fixture(fixture)
    {
    }

protected Q_SLOTS:
    void initTestCase();

protected:
    void expectMessages(const QStringList &expected);

    ScreenHarness m_host;
    TfrmConcAtivProj *s = nullptr;

private:
    QString m_fixture;
};

// Programs that drive the activity grid: the grid fixture, and each case
// starts with the host's window active, no project loaded, no message pending
// and the server's request log marked.
class GridCase : public ScreenCase
{
    Q_OBJECT

public:
    GridCase()
        : ScreenCase(QStringLiteral(VOR_GRID_FIXTURE))
    {
    }

protected Q_SLOTS:
    void init();
};
