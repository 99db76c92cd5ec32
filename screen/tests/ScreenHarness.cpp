#include "ScreenHarness.h"

#include "Cli_VOR01300.h"
#include "VOR01300.h"

#include "Application.h"
#include "DBGeral.h"
#include "NumberFormat.h"
#include "Routines.h"
#include "Services.h"
#include "ShowAvi.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

ScreenHarness::ScreenHarness() = default;

ScreenHarness::~ScreenHarness()
{
    m_server.stop();
}

QString ScreenHarness::localDbPath() const
{
    return m_dir.filePath(QStringLiteral("local.sqlite"));
}

bool ScreenHarness::setUp(QString *errorText, const QString &fixture)
{
    Workstation::setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    // The busy window would take the activation from the main window in an
    // offscreen run; its shows and hides are still counted (ShowAviDepth).
    SetShowAviDelay(600000);
    if (!m_server.start(fixture, errorText))
        return false;

    dtmDBGeral().open(localDbPath());
    QSqlQuery insert(dtmDBGeral().adcGeral.database());
    const QList<QPair<QString, QString>> branches = {
        {QStringLiteral("0001"), QStringLiteral("Matriz")},
        {QStringLiteral("0002"), QStringLiteral("Filial Sul")},
        {QStringLiteral("00ÁB"), QStringLiteral("Filial Acentuada")},
        {QStringLiteral("0O'B"), QStringLiteral("Filial com Aspas")},
    };
    for (const auto &branch : branches) {
        insert.prepare(QStringLiteral("INSERT OR REPLACE INTO FILIAL (CDFILIAL, NMFILIAL) VALUES (?, ?)"));
        insert.addBindValue(branch.first);
        insert.addBindValue(branch.second);
        if (!insert.exec()) {
            *errorText = insert.lastError().text();
            return false;
        }
    }

    setWebURL(m_server.host());
    setWebPort(m_server.port());
    if (!login(m_server.host(), m_server.port(), QStringLiteral("ANA"), QStringLiteral("ana123"), errorText))
        return false;

    auto *window = new QMainWindow;
    window->setCentralWidget(new QMdiArea(window));
    window->resize(1300, 750);
    m_mainWindow = window;
    app()->SetMainForm(window);
    setErrorPresenter([this](const QString &text) {
        m_messages << text;
        if (onMessage)
            onMessage(text);
    });
    window->show();
    QApplication::setActiveWindow(window);
    if (!QTest::qWaitForWindowActive(window)) {
        *errorText = QStringLiteral("main window never became active");
        return false;
    }
    return true;
}

TfrmConcAtivProj *ScreenHarness::openScreen()
{
    Initialize();
    IniProc();
    if (!QTest::qWaitFor([] { return frmConcAtivProj && frmConcAtivProj->isVisible(); }, 5000))
        qWarning("the screen did not show");
    return frmConcAtivProj;
}

QStringList ScreenHarness::takeMessages()
{
    QStringList taken;
    taken.swap(m_messages);
    return taken;
}

void ScreenHarness::focus(QWidget *widget)
{
    widget->setFocus(Qt::OtherFocusReason);
}

void ScreenHarness::typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        const char latin = c.unicode() < 128 ? char(c.unicode()) : 0;
        const Qt::Key key = latin ? Qt::Key(QChar(latin).toUpper().unicode()) : Qt::Key_unknown;
        QTest::sendKeyEvent(QTest::Click, widget, key, QString(c), Qt::NoModifier);
    }
}

void ScreenHarness::pressTab(QWidget *widget)
{
    QTest::keyClick(widget, Qt::Key_Tab);
}

void ScreenHarness::pressKey(QWidget *widget, int qtKey)
{
    QTest::keyClick(widget, Qt::Key(qtKey));
}
