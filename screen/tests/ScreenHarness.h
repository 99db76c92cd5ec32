#pragma once

#include "ServerFixture.h"

#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <functional>

class QMainWindow;
class QWidget;
class TEdit;
class TfrmConcAtivProj;

// Plays the host for the screen: a main window with its MDI area, the local
// database with branches, a real application server with the screen's fixture,
// a logged-in operator, the package loaded, and a recorder in place of the
// message box so that every message shown is counted.
class ScreenHarness
{
public:
    ScreenHarness();
    ~ScreenHarness();

    // false with the reason; skip when the server program is not built. The
    // server imports the screen's fixture unless another file is named.
    bool setUp(QString *errorText, const QString &fixture = QStringLiteral(VOR_SCREEN_FIXTURE));
    // Initialize and IniProc, then waits until the screen is shown.
    TfrmConcAtivProj *openScreen();

    QMainWindow *mainWindow() const { return m_mainWindow; }
    ServerFixture &server() { return m_server; }
    QString localDbPath() const;

    // Runs as each message is shown, while it would be on screen.
    std::function<void(const QString &)> onMessage;

    // Messages shown since the last take, in order.
    QStringList takeMessages();
    QStringList messages() const { return m_messages; }

    // Typing through the real widgets (focus first, then key events).
    static void focus(QWidget *widget);
    static void typeText(QWidget *widget, const QString &text);
    static void pressTab(QWidget *widget);
    static void pressKey(QWidget *widget, int qtKey);

private:
    QTemporaryDir m_dir;
    ServerFixture m_server;
    QPointer<QMainWindow> m_mainWindow;
    QStringList m_messages;
};
