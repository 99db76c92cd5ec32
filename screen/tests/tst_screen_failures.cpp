// The screen when the server goes away: a failed approval and a failed booking
// reload leave a consistent screen. Its own program: the server is stopped.
#include "GridSteps.h"
#include "ScreenCase.h"

#include "ButtonFlat.h"
#include "MenuItem.h"
#include "ShowAvi.h"
#include "SpeedButton.h"

using namespace GridSteps;

class tst_screen_failures : public GridCase
{
    Q_OBJECT

private Q_SLOTS:
    void serverGoneDuringApprovalAndMoves();

};

void tst_screen_failures::serverGoneDuringApprovalAndMoves()
{
    QVERIFY(load(s, QStringLiteral("12")));
    clickCell(s, 0, IDCHECK);
    clickCell(s, 2, IDCHECK);
    clickCell(s, 1, QStringLiteral("DESCRICAO"));
    QVERIFY(s->sbtConcluir->Enabled());
    QCOMPARE(s->cdsApropriaCSADTHRINIAPROCSA->AsString(), QStringLiteral("06/01/2026 08:00:00"));
    m_host.takeMessages();
    m_host.server().stop();

    // Approving fails: reported once; marks, change log, the current activity
    // and its bookings as they were; filter off, controls attached, no busy window.
    key(Qt::Key_P, Qt::ControlModifier);
    QTRY_COMPARE(m_host.messages().size(), 1);
    m_host.takeMessages();
    QCOMPARE(marks(s), QStringList({"S", "N", "S"}));
    QCOMPARE(s->cdsConcAtivProj->ChangeCount(), 2);
    QVERIFY(!s->cdsConcAtivProj->Filtered());
    QVERIFY(!s->cdsConcAtivProj->ControlsDisabled());
    QCOMPARE(ShowAviDepth(), 0);
    QCOMPARE(s->cdsConcAtivProj->RecordCount(), 3);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    QCOMPARE(s->dbgPadrao->currentIndex().row(), 1);
    QCOMPARE(s->cdsApropriaCSADTHRINIAPROCSA->AsString(), QStringLiteral("06/01/2026 08:00:00"));
    QVERIFY(s->sbtConcluir->Enabled());

    // Moving to another activity: its bookings cannot be fetched, and the
    // previous activity's are not left standing in for them.
    clickCell(s, 2, QStringLiteral("DESCRICAO"));
    QTRY_COMPARE(m_host.messages().size(), 1);
    m_host.takeMessages();
    QCOMPARE(ShowAviDepth(), 0);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 3);
    QVERIFY(s->cdsApropriaCSA->Active());
    QVERIFY(s->cdsApropriaCSA->IsEmpty());
    // So nothing is decided on another activity's bookings: no toggle, no edit.
    clickCell(s, 2, IDCHECK);
    QCOMPARE(value(s, 2, IDCHECK), QStringLiteral("S"));
    QVERIFY(!(s->dbgPadrao->Options() & dgEditing));
    QVERIFY(!s->sbtAlterar->Enabled());
    QVERIFY(!s->mnuAlterar->Enabled());
    QVERIFY(m_host.messages().isEmpty());
}

QTEST_MAIN(tst_screen_failures)
#include "tst_screen_failures.moc"
