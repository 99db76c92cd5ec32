#include "ScreenHarness.h"

#include "Cli_VOR01300.h"
#include "VOR01300.h"

#include "Application.h"
#include "ClientDataSet.h"
#include "Edit.h"
#include "NetConnection.h"
#include "Services.h"

#include <QLibrary>
#include <QTest>

// The package loaded the way the host loads it: by path, every entry and
// module variable looked up by name.
class tst_package : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void entriesAndUnitTable();
    void iniProcTwiceGivesOneRestoredInstance();
    void closeThenIniProcReconnectsWithHostReadAgain();
    void unloadClearsCriteriaOncePerUnload();

private:
    template<class T> T *variable(const char *name)
    {
        return reinterpret_cast<T *>(m_library.resolve(name));
    }
    using Entry = void (*)();
    Entry entry(const char *name) { return reinterpret_cast<Entry>(m_library.resolve(name)); }
    int screenInstances() const;

    ScreenHarness m_host;
    QLibrary m_library;
};

void tst_package::initTestCase()
{
    if (!ServerFixture::serverBuilt())
        QSKIP("the application server is not built");
    QString error;
    QVERIFY2(m_host.setUp(&error), qPrintable(error));
    m_library.setFileName(QStringLiteral(VOR_PACKAGE_FILE));
    QVERIFY2(m_library.load(), qPrintable(m_library.errorString()));
}

int tst_package::screenInstances() const
{
    int count = 0;
    for (const auto &form : app()->Forms())
        count += qobject_cast<TfrmConcAtivProj *>(form.data()) != nullptr;
    return count;
}

void tst_package::entriesAndUnitTable()
{
    for (const char *name : {"Initialize", "Finalize", "GetPackageInfoTable", "IniProc"})
        QVERIFY2(m_library.resolve(name), name);
    for (const char *name : {"frmConcAtivProj", "boStCriado", "frmFiltroConcAtivProj", "stOperador",
                             "stTOperador", "stItTrab", "stTItTrab"})
        QVERIFY2(m_library.resolve(name), name);

    using InfoTable = const PackageInfoTable *(*)();
    const PackageInfoTable *table = reinterpret_cast<InfoTable>(m_library.resolve("GetPackageInfoTable"))();
    QCOMPARE(table->UnitCount, 2);
    QVERIFY(table->UnitInfo[0].Init);   // Cli_VOR01300: boStCriado starts False
    QVERIFY(table->UnitInfo[1].FInit);  // Cli_VOR01301: forgets the criteria

    // Start-up once per load, however often the load entry is entered.
    *variable<bool>("boStCriado") = true;
    entry("Initialize")();
    QCOMPARE(*variable<bool>("boStCriado"), false);
    *variable<bool>("boStCriado") = true;
    entry("Initialize")();
    QCOMPARE(*variable<bool>("boStCriado"), true);
    *variable<bool>("boStCriado") = false;
    QVERIFY(*variable<TfrmFiltroConcAtivProj *>("frmFiltroConcAtivProj") == nullptr);
}

void tst_package::iniProcTwiceGivesOneRestoredInstance()
{
    QCOMPARE(*variable<TfrmConcAtivProj *>("frmConcAtivProj"), nullptr);
    entry("IniProc")();
    TfrmConcAtivProj *screen = *variable<TfrmConcAtivProj *>("frmConcAtivProj");
    QVERIFY(screen);
    QVERIFY(*variable<bool>("boStCriado"));
    QTRY_VERIFY(screen->Visible());
    QCOMPARE(app()->screenCursor(), int(crDefault));
    // Not loaded yet: activating the screen puts the focus in the branch box.
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(screen->edtCDFILIAL));
    // Created with the connection open, host and port from the host's services.
    QVERIFY(screen->netConcAtivProj->Connected());
    QCOMPARE(screen->netConcAtivProj->Host(), m_host.server().host());
    QCOMPARE(screen->netConcAtivProj->Port(), m_host.server().port());

    screen->SetWindowState(wsMinimized);
    QTRY_COMPARE(screen->WindowState(), wsMinimized);
    QCOMPARE(m_host.takeMessages(), QStringList()); // minimising checks nothing
    entry("IniProc")();
    QCOMPARE(*variable<TfrmConcAtivProj *>("frmConcAtivProj"), screen);
    QCOMPARE(screenInstances(), 1);
    QTRY_COMPARE(screen->WindowState(), wsNormal);
    QVERIFY(screen->Visible());
}

void tst_package::closeThenIniProcReconnectsWithHostReadAgain()
{
    TfrmConcAtivProj *screen = *variable<TfrmConcAtivProj *>("frmConcAtivProj");
    QVERIFY(screen);
    screen->Close();
    QVERIFY(!screen->Visible());
    QVERIFY(!screen->netConcAtivProj->Connected());
    QCOMPARE(m_host.takeMessages(), QStringList()); // closing checks nothing

    // The host now points at another server.
    ServerFixture other;
    QString error;
    QVERIFY2(other.start(QStringLiteral(VOR_SCREEN_FIXTURE), &error), qPrintable(error));
    QVERIFY2(login(other.host(), other.port(), QStringLiteral("ANA"), QStringLiteral("ana123"), &error),
             qPrintable(error));
    setWebURL(other.host());
    setWebPort(other.port());

    entry("IniProc")();
    QCOMPARE(*variable<TfrmConcAtivProj *>("frmConcAtivProj"), screen);
    QCOMPARE(screenInstances(), 1);
    QTRY_VERIFY(screen->Visible());
    QVERIFY(!screen->netConcAtivProj->Connected()); // showing again does not connect

    // The first remote call opens it again, with host and port read afresh.
    other.markCalls();
    ScreenHarness::focus(screen->edtCDFILIAL);
    ScreenHarness::typeText(screen->edtCDFILIAL, QStringLiteral("1"));
    ScreenHarness::pressTab(screen->edtCDFILIAL);
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(screen->edtCDPROJETO));
    ScreenHarness::typeText(screen->edtCDPROJETO, QStringLiteral("1"));
    ScreenHarness::pressTab(screen->edtCDPROJETO);
    QTRY_VERIFY(screen->cdsConcAtivProj->Active());
    QVERIFY(screen->netConcAtivProj->Connected());
    QCOMPARE(screen->netConcAtivProj->Port(), other.port());
    QTRY_VERIFY(other.methodsSinceMark().contains(QStringLiteral("getProjeto")));
    const QStringList shown = m_host.takeMessages();
    QVERIFY2(shown.isEmpty(), qPrintable(shown.join(QLatin1Char('\n'))));
}

void tst_package::unloadClearsCriteriaOncePerUnload()
{
    // The load entry ran twice (entriesAndUnitTable): the first unload entry
    // only counts down, and the module keeps its state.
    const char *criteria[] = {"stOperador", "stTOperador", "stItTrab", "stTItTrab"};
    for (const char *name : criteria)
        *variable<QString>(name) = QStringLiteral("'ANA'");
    entry("Finalize")();
    for (const char *name : criteria)
        QCOMPARE(*variable<QString>(name), QStringLiteral("'ANA'"));
    // ...and a load entry in between does not start the module afresh.
    *variable<bool>("boStCriado") = true;
    entry("Initialize")();
    QCOMPARE(*variable<bool>("boStCriado"), true);
    entry("Finalize")();
    QCOMPARE(*variable<QString>("stOperador"), QStringLiteral("'ANA'"));

    // The unload matching the first load runs the shut-down work.
    entry("Finalize")();
    for (const char *name : criteria)
        QVERIFY2(variable<QString>(name)->isEmpty(), name);

    // An unload entry beyond the loads runs no shut-down work again.
    *variable<QString>("stOperador") = QStringLiteral("'BIA'");
    entry("Finalize")();
    QCOMPARE(*variable<QString>("stOperador"), QStringLiteral("'BIA'"));

    // No form is freed by the package: the application still owns it.
    QCOMPARE(screenInstances(), 1);

    // The next load starts afresh.
    entry("Initialize")();
    QCOMPARE(*variable<bool>("boStCriado"), false);
}

QTEST_MAIN(tst_package)
#include "tst_package.moc"
