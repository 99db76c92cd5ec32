#include "ScreenCase.h"
#include "FocusTracker.h"
#include "ScreenHarness.h"

#include "Cli_VOR01300.h"
#include "VOR01300.h"

#include "ADOIBQuery.h"
#include "BtnPesquisa.h"
#include "ButtonFlat.h"
#include "ClientDataSet.h"
#include "DBGeral.h"
#include "DBGrid.h"
#include "Edit.h"
#include "GroupBox.h"
#include "Label.h"
#include "MenuItem.h"
#include "NetConnection.h"
#include "Panel.h"
#include "Services.h"
#include "ShowAvi.h"

#include <QApplication>
#include <QDialog>
#include <QJsonArray>
#include <QLayout>
#include <QLineEdit>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

namespace {

// Answers the next modal list of a lookup button: types the search text, then
// picks the first row shown (Enter) or cancels (Escape).
class ListAnswer : public QObject
{
public:
    ListAnswer(const QString &search, bool pick)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this, search, pick] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            m_timer.stop();
            shown = true;
            title = dialog->windowTitle();
            auto *line = dialog->findChild<QLineEdit *>();
            if (line && !search.isEmpty())
                QTest::keyClicks(line, search);
            QTest::keyClick(line ? static_cast<QWidget *>(line) : dialog, pick ? Qt::Key_Return : Qt::Key_Escape);
        });
        m_timer.start();
    }
    bool shown = false;
    QString title;

private:
    QTimer m_timer;
};

QStringList texts(const QJsonArray &params)
{
    QStringList out;
    for (const QJsonValue &v : params)
        out << v.toString();
    return out;
}

int closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort(); // closed again when probe goes
}

} // namespace

// Choosing branch and project, loading the project and its tracking summary,
// through the real screen against the real application server.
class tst_screen_selection : public ScreenCase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void typicalPass();
    void branchRefusals();
    void projectRefusals();
    void serverFailureDuringCheckAndLookup();
    void localQueryFailure();
    void serverFailureDuringLoadKeepsWhatWasFilled();
    void ajustaAndChangeRules();
    void backspaceInBranchBox();
    void projectCodeUpperCasesAToZOnly();
    void branchLookup();
    void projectLookup();
    void reenteringPanelDropsLoad();
    void summaryFromServer_data();
    void summaryFromServer();
    void summaryEdgeCases_data();
    void summaryEdgeCases();
    void emptyListAsksForTheHeadersProject();
    void quotesAndAccentsTravelAsTyped();
    void hidingTheScreenChecksAndDropsNothing();

private:
    // Branch and project typed and tabbed through, as a user does.
    void chooseBranch(const QString &typed);
    void leaveWithProject(const QString &typed);
    QWidget *focused() const { return QApplication::focusWidget(); }
};

void tst_screen_selection::initTestCase()
{
    ScreenCase::initTestCase();
    if (!s)
        return;
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));
}

void tst_screen_selection::init()
{
    // Back to selecting, with empty boxes and the focus in the branch box.
    QApplication::setActiveWindow(m_host.mainWindow());
    QVERIFY(QTest::qWaitForWindowActive(m_host.mainWindow()));
    ScreenHarness::focus(s->edtCDFILIAL);
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));
    QVERIFY(!s->cdsConcAtivProj->Active());
    s->edtCDFILIAL->SetText(QString());
    s->edtNMFILIAL->SetText(QString());
    m_host.takeMessages();
    m_host.server().markCalls();
}

void tst_screen_selection::cleanup()
{
    // No failure leaves the working animation behind.
    QCOMPARE(ShowAviDepth(), 0);
}

void tst_screen_selection::chooseBranch(const QString &typed)
{
    ScreenHarness::focus(s->edtCDFILIAL);
    s->edtCDFILIAL->selectAll();
    ScreenHarness::typeText(s->edtCDFILIAL, typed);
    ScreenHarness::pressTab(s->edtCDFILIAL);
}

void tst_screen_selection::leaveWithProject(const QString &typed)
{
    ScreenHarness::focus(s->edtCDPROJETO);
    s->edtCDPROJETO->selectAll();
    ScreenHarness::typeText(s->edtCDPROJETO, typed);
    ScreenHarness::pressTab(s->edtCDPROJETO);
}

void tst_screen_selection::typicalPass()
{
    chooseBranch(QStringLiteral("1"));
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("0001"));
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Matriz"));
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDPROJETO));

    m_host.server().markCalls();
    leaveWithProject(QStringLiteral("1"));
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QVERIFY(!s->panFiltroProj->isAncestorOf(focused()));
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000001"));
    QCOMPARE(s->edtNMPROJETO->Text(), QStringLiteral("Portal do Cliente"));
    expectMessages({});

    // The calls, in order, with the list's keys for the last four: the move to
    // the list's first activity fetches its bookings, then the load again.
    const QStringList order = {QStringLiteral("getProjeto"), QStringLiteral("getConcAtivPro"),
                               QStringLiteral("getApropriaCSA"), QStringLiteral("getApropriaCSA"),
                               QStringLiteral("getCSAAux"), QStringLiteral("getPlanProj")};
    QTRY_COMPARE(m_host.server().methodsSinceMark(), order);
    const auto calls = m_host.server().callsSinceMark();
    QCOMPARE(texts(calls[0].params), (QStringList{"0001", "0000000001", ""}));
    QCOMPARE(texts(calls[1].params), (QStringList{"0001", "0000000001"}));
    QCOMPARE(texts(calls[2].params), (QStringList{"0001", "0000000001", "T1", "1"}));
    QCOMPARE(texts(calls[3].params), (QStringList{"0001", "0000000001", "T1", "1"}));
    QCOMPARE(texts(calls[4].params), (QStringList{"0001", "0000000001"}));
    QCOMPARE(texts(calls[5].params), (QStringList{"0001", "0000000001"}));

    // Datasets: the list on its first activity, that activity's bookings, the
    // project's bookings, the planning figures; the project check's one row.
    QCOMPARE(s->cdsConcAtivProj->RecordCount(), 2);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 1);
    QCOMPARE(s->cdsApropriaCSA->RecordCount(), 2);
    QCOMPARE(s->cdsCSAAux->RecordCount(), 3);
    QVERIFY(s->cdsPlanProj->Active());
    QVERIFY(s->cdsPlanCSA->Active());
    QCOMPARE(s->cdsProjeto->RecordCount(), 1);
    QCOMPARE(s->dbgApropriaCSA->DataSet()->RecordCount(), 2);

    // 8 h planned at 40 %, 4 h booked: 50 % booked against 40 % done.
    QCOMPARE(s->lblVrHrPlan->Caption(), QStringLiteral("8:00"));
    QCOMPARE(s->lblVrHrReal->Caption(), QStringLiteral("4:00"));
    QCOMPARE(s->lblVrPlanXRel->Caption(), QStringLiteral("50%"));
    QCOMPARE(s->lblVrConcCrono->Caption(), QStringLiteral("40%"));
    QCOMPARE(s->lblVrStatus->Caption(), QStringLiteral("-10% - Atrasado"));

    QVERIFY(s->sbtFiltro->Enabled());
    QVERIFY(s->mnuFiltrar->Enabled());
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(!s->mnuConcluir->Enabled());
    QVERIFY(!s->grbAcomProj->Enabled());

    // Activating the screen with a project loaded leaves the focus alone.
    QWidget *before = focused();
    s->FormActivate(s);
    QCOMPARE(focused(), before);
}

void tst_screen_selection::branchRefusals()
{
    // Empty: refused, the focus stays.
    ScreenHarness::pressTab(s->edtCDFILIAL);
    expectMessages({QStringLiteral("Filial deve ser informada")});
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));

    // Blanks count as empty.
    ScreenHarness::typeText(s->edtCDFILIAL, QStringLiteral("  "));
    ScreenHarness::pressTab(s->edtCDFILIAL);
    expectMessages({QStringLiteral("Filial deve ser informada")});

    // Unknown: refused with the normalised code kept, the old name kept.
    chooseBranch(QStringLiteral("1"));
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Matriz"));
    chooseBranch(QStringLiteral("9"));
    expectMessages({QStringLiteral("Filial não cadastrada")});
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("0009"));
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Matriz"));
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
}

void tst_screen_selection::projectRefusals()
{
    chooseBranch(QStringLiteral("1"));
    m_host.server().markCalls();

    // Leaving the panel with no project: refused before any call.
    ScreenHarness::pressTab(s->edtCDPROJETO);
    expectMessages({QStringLiteral("Projeto deve ser informado")});
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDPROJETO));
    QVERIFY(!s->cdsConcAtivProj->Active());
    QVERIFY(!s->sbtFiltro->Enabled());

    // Unknown project: cleared and focused, nothing loaded.
    leaveWithProject(QStringLiteral("77"));
    expectMessages({QStringLiteral("Projeto não cadastrado")});
    QCOMPARE(s->edtCDPROJETO->Text(), QString());
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDPROJETO));
    QVERIFY(!s->cdsConcAtivProj->Active());
    QVERIFY(!s->sbtFiltro->Enabled());
    QTRY_COMPARE(m_host.server().methodsSinceMark(), QStringList{QStringLiteral("getProjeto")});
    QCOMPARE(texts(m_host.server().callsSinceMark().at(0).params), (QStringList{"0001", "0000000077", ""}));

    // A project of another branch is not this branch's.
    chooseBranch(QStringLiteral("2"));
    leaveWithProject(QStringLiteral("1"));
    expectMessages({QStringLiteral("Projeto não cadastrado")});

    // Lookup on a branch without projects: the message, no list.
    m_host.server().markCalls();
    ListAnswer answer(QString(), true);
    QTest::mouseClick(s->btpProjeto, Qt::LeftButton);
    expectMessages({QStringLiteral("Nenhum projeto cadastrado para filial informada")});
    QVERIFY(!answer.shown);
    QVERIFY(s->cdsProjeto->IsEmpty());
    QTRY_COMPARE(m_host.server().methodsSinceMark(), QStringList{QStringLiteral("getProjeto")});
    QCOMPARE(texts(m_host.server().callsSinceMark().at(0).params), (QStringList{"0002", "", "T"}));
}

void tst_screen_selection::serverFailureDuringCheckAndLookup()
{
    chooseBranch(QStringLiteral("1"));
    // The next call finds the connection closed and opens it towards a port
    // where nobody answers.
    s->netConcAtivProj->SetConnected(false);
    setWebPort(closedPort());

    leaveWithProject(QStringLiteral("1"));
    const QStringList shown = m_host.takeMessages();
    QCOMPARE(shown.size(), 1);
    // The server did not answer: the code typed stays for a retry.
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000001"));
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDPROJETO));
    QVERIFY(!s->cdsConcAtivProj->Active());
    QCOMPARE(ShowAviDepth(), 0);

    ListAnswer answer(QString(), true);
    QTest::mouseClick(s->btpProjeto, Qt::LeftButton);
    QCOMPARE(m_host.takeMessages().size(), 1);
    QVERIFY(!answer.shown);

    s->netConcAtivProj->SetConnected(false);
    setWebPort(m_host.server().port());
}

void tst_screen_selection::localQueryFailure()
{
    QSqlQuery sql(dtmDBGeral().adcGeral.database());
    QVERIFY(sql.exec(QStringLiteral("ALTER TABLE FILIAL RENAME TO FILIAL_OFF")));
    chooseBranch(QStringLiteral("1"));
    QCOMPARE(m_host.takeMessages().size(), 1);
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));

    ListAnswer answer(QString(), true);
    QTest::mouseClick(s->btpFilial, Qt::LeftButton);
    QCOMPARE(m_host.takeMessages().size(), 1);
    QVERIFY(!answer.shown);
    QVERIFY(sql.exec(QStringLiteral("ALTER TABLE FILIAL_OFF RENAME TO FILIAL")));
}

void tst_screen_selection::serverFailureDuringLoadKeepsWhatWasFilled()
{
    // A first load leaves bookings on screen; then the panel is entered again.
    chooseBranch(QStringLiteral("1"));
    leaveWithProject(QStringLiteral("1"));
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    ScreenHarness::focus(s->edtCDPROJETO);
    QVERIFY(!s->cdsApropriaCSA->Active());
    s->cdsApropriaCSA->Open();

    // Another server, which goes away right after the list has arrived.
    ServerFixture other;
    QString error;
    QVERIFY2(other.start(QStringLiteral(VOR_SCREEN_FIXTURE), &error), qPrintable(error));
    QVERIFY2(login(other.host(), other.port(), QStringLiteral("ANA"), QStringLiteral("ana123"), &error),
             qPrintable(error));
    s->netConcAtivProj->SetConnected(false);
    setWebPort(other.port());
    const TClientDataSet::DataSetEvent before = s->cdsConcAtivProj->AfterScroll;
    s->cdsConcAtivProj->AfterScroll = [&other](TClientDataSet &) { other.stop(); };

    ScreenHarness::pressTab(s->edtCDPROJETO);
    s->cdsConcAtivProj->AfterScroll = before;
    QCOMPARE(m_host.takeMessages().size(), 1);   // the failure, once
    QCOMPARE(ShowAviDepth(), 0);
    QVERIFY(s->sbtFiltro->Enabled());             // step 2 had run
    QCOMPARE(s->cdsConcAtivProj->RecordCount(), 2); // filled before the failure: kept
    QVERIFY(s->cdsApropriaCSA->Active());         // not yet filled: as it was
    QVERIFY(s->cdsApropriaCSA->IsEmpty());
    QVERIFY(!s->cdsPlanProj->Active());
    QVERIFY(s->lblVrStatus->Caption().isEmpty());

    // Back to the test's server.
    s->netConcAtivProj->SetConnected(false);
    setWebPort(m_host.server().port());
    QVERIFY2(login(m_host.server().host(), m_host.server().port(), QStringLiteral("ANA"),
                   QStringLiteral("ana123"), &error), qPrintable(error));
    ScreenHarness::focus(s->edtCDFILIAL);
    s->cdsConcAtivProj->Close();
}

void tst_screen_selection::ajustaAndChangeRules()
{
    chooseBranch(QStringLiteral("1"));
    s->edtCDPROJETO->SetText(QStringLiteral("0000000001"));
    s->edtNMPROJETO->SetText(QStringLiteral("Portal do Cliente"));

    // Leaving the branch box with the code unchanged keeps the project.
    ScreenHarness::focus(s->edtCDFILIAL);
    ScreenHarness::pressTab(s->edtCDFILIAL);
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000001"));
    QCOMPARE(s->edtNMPROJETO->Text(), QStringLiteral("Portal do Cliente"));

    // Typing a code different from the normalised one: the written-back width
    // is a change, so the project goes.
    ScreenHarness::focus(s->edtCDFILIAL);
    s->edtCDFILIAL->selectAll();
    ScreenHarness::typeText(s->edtCDFILIAL, QStringLiteral("1"));
    QCOMPARE(s->edtCDPROJETO->Text(), QString()); // the typing itself changed the code
    s->edtCDPROJETO->SetText(QStringLiteral("0000000001"));
    s->edtNMPROJETO->SetText(QStringLiteral("Portal do Cliente"));
    ScreenHarness::pressTab(s->edtCDFILIAL);
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("0001"));
    QCOMPARE(s->edtCDPROJETO->Text(), QString());
    QCOMPARE(s->edtNMPROJETO->Text(), QString());
    expectMessages({});

    // The project code is written back at width 10 and its name follows.
    leaveWithProject(QStringLiteral("2"));
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000002"));
    QCOMPARE(s->edtNMPROJETO->Text(), QStringLiteral("Projeto em dia"));

    // Changing the project code wipes a shown name, and only then.
    ScreenHarness::focus(s->edtCDPROJETO);
    ScreenHarness::pressKey(s->edtCDPROJETO, Qt::Key_Backspace);
    QCOMPARE(s->edtNMPROJETO->Text(), QString());
    s->edtNMPROJETO->SetText(QStringLiteral("   "));
    ScreenHarness::pressKey(s->edtCDPROJETO, Qt::Key_Backspace);
    QCOMPARE(s->edtNMPROJETO->Text(), QStringLiteral("   "));
    s->edtNMPROJETO->SetText(QString());
}

void tst_screen_selection::backspaceInBranchBox()
{
    chooseBranch(QStringLiteral("1"));
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Matriz"));
    ScreenHarness::focus(s->edtCDFILIAL);
    s->edtCDFILIAL->end(false);

    // Other characters leave the old name on screen until the next check.
    s->edtCDFILIAL->selectAll();
    ScreenHarness::typeText(s->edtCDFILIAL, QStringLiteral("0002"));
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Matriz"));

    // Backspace clears the name at once and still deletes.
    ScreenHarness::pressKey(s->edtCDFILIAL, Qt::Key_Backspace);
    QCOMPARE(s->edtNMFILIAL->Text(), QString());
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("000"));
    ScreenHarness::typeText(s->edtCDFILIAL, QStringLiteral("2"));
    ScreenHarness::pressTab(s->edtCDFILIAL);
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Filial Sul"));
}

void tst_screen_selection::projectCodeUpperCasesAToZOnly()
{
    chooseBranch(QStringLiteral("1"));
    ScreenHarness::focus(s->edtCDPROJETO);
    ScreenHarness::typeText(s->edtCDPROJETO, QStringLiteral("az1-áéçZ. "));
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("AZ1-áéçZ. "));
    expectMessages({});
}

void tst_screen_selection::branchLookup()
{
    chooseBranch(QStringLiteral("1"));
    s->edtCDPROJETO->SetText(QStringLiteral("0000000001"));
    s->edtNMPROJETO->SetText(QStringLiteral("Portal do Cliente"));

    // Cancel: nothing changes.
    {
        ListAnswer answer(QString(), false);
        QTest::mouseClick(s->btpFilial, Qt::LeftButton);
        QVERIFY(answer.shown);
        QCOMPARE(answer.title, QStringLiteral("Filial"));
    }
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("0001"));
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000001"));
    // The list offered every branch, in code order.
    QCOMPARE(s->qryFilial->Query()->RecordCount(), 4);

    // Pick another branch: code and name shown, the project cleared.
    {
        ListAnswer answer(QStringLiteral("Sul"), true);
        QTest::mouseClick(s->btpFilial, Qt::LeftButton);
        QVERIFY(answer.shown);
    }
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("0002"));
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Filial Sul"));
    QCOMPARE(s->edtCDPROJETO->Text(), QString());
    QCOMPARE(s->edtNMPROJETO->Text(), QString());
    expectMessages({});
}

void tst_screen_selection::projectLookup()
{
    chooseBranch(QStringLiteral("1"));
    m_host.server().markCalls();
    {
        ListAnswer answer(QStringLiteral("em dia"), true);
        QTest::mouseClick(s->btpProjeto, Qt::LeftButton);
        QVERIFY(answer.shown);
        QCOMPARE(answer.title, QStringLiteral("Projeto"));
    }
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000002"));
    QCOMPARE(s->edtNMPROJETO->Text(), QStringLiteral("Projeto em dia"));
    QVERIFY(s->cdsProjeto->RecordCount() > 1);
    QCOMPARE(texts(m_host.server().callsSinceMark().value(0).params), (QStringList{"0001", "", "T"}));

    // Cancel keeps what was there.
    {
        ListAnswer answer(QString(), false);
        QTest::mouseClick(s->btpProjeto, Qt::LeftButton);
        QVERIFY(answer.shown);
    }
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000002"));
    QCOMPARE(s->edtNMPROJETO->Text(), QStringLiteral("Projeto em dia"));

    // After a load, the project list holds just the loaded project. (No window
    // manager gives the activation back after the list closes: take it.)
    QApplication::setActiveWindow(m_host.mainWindow());
    QVERIFY(QTest::qWaitForWindowActive(m_host.mainWindow()));
    ScreenHarness::focus(s->edtCDPROJETO);
    ScreenHarness::pressTab(s->edtCDPROJETO);
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(s->cdsProjeto->RecordCount(), 1);
    QCOMPARE(s->cdsProjetoCDPROJETO->AsString(), QStringLiteral("0000000002"));
    QCOMPARE(s->cdsProjetoCDOPERESPRJ->AsString(), QStringLiteral("ANA"));

    // A lookup while loaded closes only the list.
    {
        ListAnswer answer(QString(), false);
        QTest::mouseClick(s->btpProjeto, Qt::LeftButton);
    }
    QVERIFY(!s->cdsConcAtivProj->Active());
    QVERIFY(s->cdsApropriaCSA->Active());
    QVERIFY(!s->lblVrStatus->Caption().isEmpty());
    expectMessages({});
}

void tst_screen_selection::reenteringPanelDropsLoad()
{
    // Entering with nothing loaded changes nothing.
    QVERIFY(s->lblVrStatus->Caption().isEmpty() || !s->cdsConcAtivProj->Active());

    chooseBranch(QStringLiteral("1"));
    leaveWithProject(QStringLiteral("1"));
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(s->lblVrStatus->Caption(), QStringLiteral("-10% - Atrasado"));

    m_host.server().markCalls();
    ScreenHarness::focus(s->edtCDPROJETO);
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->edtCDPROJETO));
    for (TClientDataSet *closed : {s->cdsConcAtivProj, s->cdsApropriaCSA, s->cdsPlanProj, s->cdsPlanCSA})
        QVERIFY2(!closed->Active(), qPrintable(closed->objectName()));
    QVERIFY(s->cdsCSAAux->Active());
    QCOMPARE(s->cdsProjeto->RecordCount(), 1);
    for (TLabel *value : {s->lblVrHrPlan, s->lblVrHrReal, s->lblVrPlanXRel, s->lblVrConcCrono, s->lblVrStatus})
        QVERIFY(value->Caption().isEmpty());
    QVERIFY(!s->sbtFiltro->Enabled());
    QVERIFY(!s->mnuFiltrar->Enabled());
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(!s->mnuConcluir->Enabled());
    QVERIFY(!s->sbtProcurar->Enabled());
    QVERIFY(!s->sbtVerificar->Enabled());
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000001"));
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());

    // Out again unchanged: the whole load runs again.
    ScreenHarness::pressTab(s->edtCDPROJETO);
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QTRY_COMPARE(m_host.server().methodsSinceMark(),
                 (QStringList{"getProjeto", "getConcAtivPro", "getApropriaCSA", "getApropriaCSA", "getCSAAux",
                              "getPlanProj"}));
    QCOMPARE(s->lblVrStatus->Caption(), QStringLiteral("-10% - Atrasado"));
    expectMessages({});
}

void tst_screen_selection::summaryFromServer_data()
{
    QTest::addColumn<QString>("project");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("equal values") << "2" << QStringList{"10:00", "5:00", "50%", "50%", "0% - Em dia"};
    QTest::newRow("+0.3 is ahead") << "3" << QStringList{"10:00", "5:00", "50%", "50%", "0% - Antecipado"};
    QTest::newRow("no planned hours") << "5" << QStringList{"0:00", "0:00", "0%", "0%", "0% - Em dia"};
}

void tst_screen_selection::summaryFromServer()
{
    QFETCH(QString, project);
    QFETCH(QStringList, values);
    chooseBranch(QStringLiteral("1"));
    leaveWithProject(project);
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    expectMessages({});
    const QStringList shown = {s->lblVrHrPlan->Caption(), s->lblVrHrReal->Caption(), s->lblVrPlanXRel->Caption(),
                               s->lblVrConcCrono->Caption(), s->lblVrStatus->Caption()};
    QCOMPARE(shown, values);
}

void tst_screen_selection::summaryEdgeCases_data()
{
    // Planning packet (VRPERCONCPRJ, NRHORASPLAN, NRDIASITCRPJ) and booked
    // packet (NRHORASAPROPRIA, APROPRIADO); an empty list is an empty packet.
    QTest::addColumn<QVariantList>("plan");
    QTest::addColumn<QVariantList>("booked");
    QTest::addColumn<QStringList>("values");
    QTest::newRow("zero divisor, sign of completion")
        << QVariantList{30.0, "0:00", 0.0} << QVariantList{"2:00", 2.0}
        << QStringList{"0:00", "2:00", "0%", "30%", "30% - Antecipado"};
    QTest::newRow("zero divisor, nothing done") << QVariantList{0.0, "0:00", 0.0} << QVariantList{"2:00", 2.0}
                                                << QStringList{"0:00", "2:00", "0%", "0%", "0% - Em dia"};
    QTest::newRow("equal") << QVariantList{25.0, "8:00", 8.0} << QVariantList{"2:00", 2.0}
                           << QStringList{"8:00", "2:00", "25%", "25%", "0% - Em dia"};
    QTest::newRow("+0.3") << QVariantList{25.3, "8:00", 8.0} << QVariantList{"2:00", 2.0}
                          << QStringList{"8:00", "2:00", "25%", "25%", "0% - Antecipado"};
    QTest::newRow("-0.3") << QVariantList{24.7, "8:00", 8.0} << QVariantList{"2:00", 2.0}
                          << QStringList{"8:00", "2:00", "25%", "25%", "0% - Atrasado"};
    QTest::newRow("rounds half away from zero") << QVariantList{12.5, "8:00", 8.0} << QVariantList{"0:30", 0.5}
                                                << QStringList{"8:00", "0:30", "6%", "13%", "6% - Antecipado"};
    QTest::newRow("no thousands separator") << QVariantList{0.0, "1:00", 1.0} << QVariantList{"25:00", 25.0}
                                            << QStringList{"1:00", "25:00", "2500%", "0%", "-2500% - Atrasado"};
    QTest::newRow("on schedule through division noise")
        << QVariantList{1000.0 / 30, "30:00", 30.0} << QVariantList{"10:00", 10.0}
        << QStringList{"30:00", "10:00", "33%", "33%", "0% - Em dia"};
    QTest::newRow("long texts") << QVariantList{100.0, "99999:59", 40.0} << QVariantList{"99999:59", 100.0}
                                << QStringList{"99999:59", "99999:59", "250%", "100%", "-150% - Atrasado"};
    QTest::newRow("empty packets") << QVariantList{} << QVariantList{}
                                   << QStringList{"", "", "0%", "0%", "0% - Em dia"};
}

void tst_screen_selection::summaryEdgeCases()
{
    QFETCH(QVariantList, plan);
    QFETCH(QVariantList, booked);
    QFETCH(QStringList, values);
    auto fill = [](TClientDataSet *dataSet, const QVariantList &row) {
        DataPacket packet;
        for (const auto &field : dataSet->Fields())
            packet.fields.append({field->FieldName(), field->DataType(), field->Size()});
        if (!row.isEmpty())
            packet.rows.push_back(PacketRow(row.cbegin(), row.cend()));
        dataSet->SetData(packet);
    };
    fill(s->cdsPlanProj, plan);
    fill(s->cdsPlanCSA, booked);
    s->MostraAcompanhamento();
    const QStringList shown = {s->lblVrHrPlan->Caption(), s->lblVrHrReal->Caption(), s->lblVrPlanXRel->Caption(),
                               s->lblVrConcCrono->Caption(), s->lblVrStatus->Caption()};
    QCOMPARE(shown, values);
    // Whatever the values, every caption and value of the box is shown whole.
    QTRY_VERIFY(s->grbAcomProj->layout()->geometry().width() > 0);
    QApplication::processEvents();
    for (TLabel *label : s->grbAcomProj->findChildren<TLabel *>()) {
        QVERIFY2(label->width() >= label->sizeHint().width(),
                 qPrintable(QStringLiteral("%1: %2 < %3").arg(label->objectName()).arg(label->width())
                                .arg(label->sizeHint().width())));
        QVERIFY2(s->panFiltroProj->rect().contains(QRect(label->mapTo(s->panFiltroProj, QPoint(0, 0)),
                                                         label->sizeHint())),
                 qPrintable(label->objectName()));
    }
    s->cdsPlanProj->Close();
    s->cdsPlanCSA->Close();
    for (TLabel *value : {s->lblVrHrPlan, s->lblVrHrReal, s->lblVrPlanXRel, s->lblVrConcCrono, s->lblVrStatus})
        value->SetCaption(QString());
}

void tst_screen_selection::emptyListAsksForTheHeadersProject()
{
    chooseBranch(QStringLiteral("1"));
    m_host.server().markCalls();
    leaveWithProject(QStringLiteral("4"));
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    expectMessages({});
    QVERIFY(s->cdsConcAtivProj->IsEmpty());

    // No activity to ask bookings about; the project's figures still asked
    // for with the header's branch and project, not with empty keys.
    QTRY_COMPARE(m_host.server().methodsSinceMark(),
                 (QStringList{"getProjeto", "getConcAtivPro", "getCSAAux", "getPlanProj"}));
    const auto calls = m_host.server().callsSinceMark();
    QCOMPARE(texts(calls[2].params), (QStringList{"0001", "0000000004"}));
    QCOMPARE(texts(calls[3].params), (QStringList{"0001", "0000000004"}));
    QVERIFY(s->cdsApropriaCSA->Active());
    QVERIFY(s->cdsApropriaCSA->IsEmpty());
    QVERIFY(s->cdsCSAAux->IsEmpty());
    QVERIFY(s->cdsPlanProj->Active());
    QCOMPARE(s->lblVrHrPlan->Caption(), s->cdsPlanProjNRHORASPLAN->AsString());
    QCOMPARE(s->lblVrPlanXRel->Caption(), QStringLiteral("0%"));
    QCOMPARE(s->lblVrStatus->Caption(), QStringLiteral("0% - Em dia"));
    QVERIFY(s->sbtFiltro->Enabled());
}

void tst_screen_selection::quotesAndAccentsTravelAsTyped()
{
    // Branch codes with a quote or an accented letter, through the local query.
    chooseBranch(QStringLiteral("O'B"));
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("0O'B"));
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Filial com Aspas"));
    chooseBranch(QStringLiteral("ÁB"));
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("00ÁB"));
    QCOMPARE(s->edtNMFILIAL->Text(), QStringLiteral("Filial Acentuada"));
    expectMessages({});

    // A project code with a quote, to the server and back; its activity's
    // task number carries one too.
    chooseBranch(QStringLiteral("1"));
    m_host.server().markCalls();
    leaveWithProject(QStringLiteral("o'br"));
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    expectMessages({});
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("000000O'BR"));
    QCOMPARE(s->edtNMPROJETO->Text(), QStringLiteral("Código com aspas"));
    QTRY_COMPARE(m_host.server().methodsSinceMark().size(), 6);
    QCOMPARE(texts(m_host.server().callsSinceMark().at(2).params),
             (QStringList{"0001", "000000O'BR", "T'1", "1"}));
    QCOMPARE(texts(m_host.server().callsSinceMark().at(3).params),
             (QStringList{"0001", "000000O'BR", "T'1", "1"}));
    QCOMPARE(s->cdsConcAtivProjDESCRICAO->AsString(), QStringLiteral("Aspas"));

    // Blanks and letters beyond ASCII travel as typed after the padding; an
    // unknown code is simply not found.
    chooseBranch(QStringLiteral("1"));
    m_host.server().markCalls();
    leaveWithProject(QStringLiteral("ç 'é\""));
    expectMessages({QStringLiteral("Projeto não cadastrado")});
    QTRY_COMPARE(m_host.server().methodsSinceMark(), QStringList{QStringLiteral("getProjeto")});
    QCOMPARE(texts(m_host.server().callsSinceMark().at(0).params),
             (QStringList{"0001", QStringLiteral("00000ç 'é\""), ""}));
    QVERIFY(s->edtCDPROJETO->Text().isEmpty());
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDPROJETO));

    chooseBranch(QStringLiteral(" ;"));
    expectMessages({QStringLiteral("Filial não cadastrada")});
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("00 ;"));
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));
}

void tst_screen_selection::hidingTheScreenChecksAndDropsNothing()
{
    // An unknown branch left in its box: minimising, restoring, closing and
    // opening again move the focus about, yet no check runs and nothing is shown.
    ScreenHarness::focus(s->edtCDFILIAL);
    ScreenHarness::typeText(s->edtCDFILIAL, QStringLiteral("Z"));
    s->SetWindowState(wsMinimized);
    QTRY_COMPARE(s->WindowState(), wsMinimized);
    s->SetWindowState(wsNormal);
    QTRY_COMPARE(s->WindowState(), wsNormal);
    s->Close();
    QVERIFY(!s->Visible());
    IniProc();
    QTRY_VERIFY(s->Visible());
    expectMessages({});
    QCOMPARE(s->edtCDFILIAL->Text(), QStringLiteral("Z"));
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
    // The check still runs on the user's next move out of the box.
    ScreenHarness::focus(s->edtCDFILIAL);
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));
    ScreenHarness::pressTab(s->edtCDFILIAL);
    expectMessages({QStringLiteral("Filial não cadastrada")});
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));

    // A loaded project, focus in the grid: hiding and showing the screen
    // neither drops the load nor runs it again.
    chooseBranch(QStringLiteral("1"));
    leaveWithProject(QStringLiteral("1"));
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    expectMessages({});
    m_host.server().markCalls();
    s->SetWindowState(wsMinimized);
    QTRY_COMPARE(s->WindowState(), wsMinimized);
    IniProc();
    QTRY_COMPARE(s->WindowState(), wsNormal);
    s->Close();
    IniProc();
    QTRY_VERIFY(s->Visible());
    // The restored window settles before the user's next move.
    QTRY_VERIFY(!FocusTracker::instance()->holding());
    QVERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(s->lblVrStatus->Caption(), QStringLiteral("-10% - Atrasado"));
    QVERIFY(s->sbtFiltro->Enabled());
    QVERIFY2(m_host.server().methodsSinceMark().isEmpty(),
             qPrintable(m_host.server().methodsSinceMark().join(QLatin1Char(' '))));
    expectMessages({});

    // The project box left with a code nobody checked yet: no load on hiding.
    ScreenHarness::focus(s->edtCDPROJETO); // drops the load, as any entry does
    QTRY_VERIFY(!s->cdsConcAtivProj->Active());
    ScreenHarness::typeText(s->edtCDPROJETO, QStringLiteral("9"));
    m_host.server().markCalls();
    s->Close();
    IniProc();
    QTRY_VERIFY(s->Visible());
    QVERIFY(!s->cdsConcAtivProj->Active());
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
    expectMessages({});

    // Back to selecting for the next case.
    ScreenHarness::focus(s->edtCDFILIAL);
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));
}

QTEST_MAIN(tst_screen_selection)
#include "tst_screen_selection.moc"
