// The screen when the server does not answer: a percentage that could not be
// sent stays typed, a write whose outcome is unknown is said to be so and the
// list is read again once the server answers. Its own program: the server is
// frozen and woken.
#include "GridSteps.h"
#include "ScreenCase.h"

#include "MenuItem.h"
#include "NetConnection.h"
#include "ShowAvi.h"
#include "SpeedButton.h"

using namespace GridSteps;

class tst_screen_outages : public GridCase
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void failedSendKeepsTheRowTyped();
    void approvalWithoutAnswerIsReadAgain();
    void failedLoadKeepsTheProjectCode();

private:
    // Waits for the one message the timeout brings.
    QString waitMessage();
};

void tst_screen_outages::initTestCase()
{
    GridCase::initTestCase();
    if (!s)
        return;
    // The host gives up on a silent server quickly here.
    s->netConcAtivProj->setTimeoutMs(1500);
}

void tst_screen_outages::cleanup()
{
    m_host.server().resume();
    m_host.onMessage = nullptr;
    QCOMPARE(ShowAviDepth(), 0);
    QVERIFY(!s->cdsConcAtivProj->ControlsDisabled());
}

QString tst_screen_outages::waitMessage()
{
    if (!QTest::qWaitFor([this] { return !m_host.messages().isEmpty(); }, 10000))
        return {};
    const QStringList shown = m_host.takeMessages();
    return shown.size() == 1 ? shown.first() : shown.join(QLatin1String(" | "));
}

void tst_screen_outages::failedSendKeepsTheRowTyped()
{
    QVERIFY(load(s, QStringLiteral("23")));
    clickCell(s, 1, PERC);
    type(QStringLiteral("55"));
    m_host.server().pause();
    key(Qt::Key_Down);
    const QString m1 = waitMessage();
    QVERIFY2(m1.contains(QStringLiteral("não respondeu")), qPrintable(m1));
    // The value typed, still being edited on its row, with that row's
    // bookings, and the commands of an edit.
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Edit);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    QCOMPARE(s->dbgPadrao->currentIndex().row(), 1);
    QCOMPARE(s->cdsConcAtivProjVRPERCCONCL->AsFloat(), 55.0);
    QCOMPARE(s->cdsApropriaCSADTHRINIAPROCSA->AsString(), QStringLiteral("06/01/2026 08:00:00"));
    QVERIFY(s->sbtConfirmar->Enabled());
    QVERIFY(s->sbtCancelar->Enabled());

    // The server is back: Return sends it again, and the row is stored.
    m_host.server().resume();
    m_host.server().markCalls();
    key(Qt::Key_Return);
    QTRY_COMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
    QTRY_VERIFY(m_host.server().methodsSinceMark().contains(QStringLiteral("getPlanProj")));
    QCOMPARE(cell(s, 1, PERC).data().toString(), QStringLiteral("55%"));
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    QVERIFY(s->sbtAlterar->Enabled());
    QCOMPARE(m_host.takeMessages(), QStringList());
}

void tst_screen_outages::approvalWithoutAnswerIsReadAgain()
{
    QVERIFY(load(s, QStringLiteral("23")));
    clickCell(s, 2, IDCHECK);
    clickCell(s, 3, IDCHECK);
    // While the message is up, the list is whole and painted.
    bool listWhole = false;
    m_host.onMessage = [&](const QString &) {
        listWhole = !s->cdsConcAtivProj->ControlsDisabled() && !s->cdsConcAtivProj->Filtered()
                    && s->cdsConcAtivProj->RecordCount() == 4;
    };
    m_host.server().pause();
    key(Qt::Key_P, Qt::ControlModifier);
    const QString shown = waitMessage();
    QVERIFY2(shown.contains(QStringLiteral("Não se sabe")), qPrintable(shown));
    QVERIFY(listWhole);
    QCOMPARE(marks(s), QStringList({"N", "N", "S", "S"}));

    // Awake, the server applies the approval; the first answer it gives
    // brings the list as it holds it.
    m_host.server().resume();
    m_host.server().markCalls();
    clickCell(s, 1, QStringLiteral("DESCRICAO"));
    QTRY_VERIFY(m_host.server().methodsSinceMark().contains(QStringLiteral("getConcAtivPro")));
    QTRY_COMPARE(marks(s), QStringList({"N", "N", "N", "N"}));
    QVERIFY(!value(s, 2, QStringLiteral("DTHRAPROVATIVTA")).isEmpty());
    QVERIFY(!value(s, 3, QStringLiteral("DTHRAPROVATIVTA")).isEmpty());
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    QCOMPARE(m_host.takeMessages(), QStringList());

    // Unknown again, and the next write comes first: the list is read
    // instead, and nothing is approved on what the screen showed.
    clickCell(s, 1, IDCHECK);
    m_host.server().markCalls();
    m_host.server().pause();
    key(Qt::Key_P, Qt::ControlModifier);
    QVERIFY(waitMessage().contains(QStringLiteral("Não se sabe")));
    m_host.server().resume();
    // The request the server got while frozen is served on waking.
    QTRY_VERIFY(m_host.server().methodsSinceMark().contains(QStringLiteral("setAprovaAtividades")));
    m_host.server().markCalls();
    key(Qt::Key_P, Qt::ControlModifier);
    QVERIFY(waitMessage().contains(QLatin1String("lida de novo")));
    QVERIFY(!m_host.server().methodsSinceMark().contains(QStringLiteral("setAprovaAtividades")));
    QVERIFY(!value(s, 1, QStringLiteral("DTHRAPROVATIVTA")).isEmpty());
    QCOMPARE(marks(s), QStringList({"N", "N", "N", "N"}));
}

void tst_screen_outages::failedLoadKeepsTheProjectCode()
{
    chooseBranch(s, QStringLiteral("1"));
    ScreenHarness::focus(s->edtCDPROJETO);
    ScreenHarness::typeText(s->edtCDPROJETO, QStringLiteral("23"));
    m_host.server().pause();
    ScreenHarness::pressTab(s->edtCDPROJETO);
    QVERIFY(waitMessage().contains(QStringLiteral("não respondeu")));
    QCOMPARE(s->edtCDPROJETO->Text(), QStringLiteral("0000000023"));
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(s->edtCDPROJETO));
    QVERIFY(!s->cdsConcAtivProj->Active());
    // Back, and the same code loads.
    m_host.server().resume();
    ScreenHarness::pressTab(s->edtCDPROJETO);
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(m_host.takeMessages(), QStringList());
}

QTEST_MAIN(tst_screen_outages)
#include "tst_screen_outages.moc"
