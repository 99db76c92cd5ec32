// What a supervisor enters lands where they meant it or is refused visibly,
// and the screen works from the keyboard: typed as a user types, through the
// real screen against the real server.
#include "GridSteps.h"
#include "ModalAnswer.h"
#include "ScreenCase.h"

#include "BtnPesquisa.h"
#include "ButtonFlat.h"
#include "Form.h"
#include "Label.h"
#include "Panel.h"
#include "MenuItem.h"
#include "ShowAvi.h"
#include "SpeedButton.h"
#include "VOR01300.h"
#include "Cli_VOR01301.h"

#include <QAccessible>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QMdiSubWindow>

using namespace GridSteps;

class tst_screen_entry : public GridCase
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    // entering percentages
    void valuesDownTheColumnLandOnTheirOwnRows();
    void charactersTypedBackToBack();
    // approving
    void approvingWithAPercentagePending();
    // leaving the row or the screen
    void leavingForTheHeaderSendsThePercentage();
    void closingSendsThePercentage();
    // window state
    void windowStateKeepsTheListAndTheFocus();
    // keyboard only
    void keyboardOnlyLoadMarkAndLeave();
    void cancelKeepsTheFocusOnTheRow();
    void commandsAndNamesOfferWhatWorks();
    void filterIsOffWhileEditing();

private:
    // Sent percentages since the mark, as "sequence=value".
    QStringList sentPercentages();
    QWidget *focused() const { return QApplication::focusWidget(); }
};

void tst_screen_entry::init()
{
    if (!s->Visible())
        IniProc();
    QVERIFY(startCase(m_host, s));
}

void tst_screen_entry::cleanup()
{
    QCOMPARE(ShowAviDepth(), 0);
    QVERIFY(!s->cdsConcAtivProj->ControlsDisabled());
    QCOMPARE(m_host.takeMessages(), QStringList());
}

QStringList tst_screen_entry::sentPercentages()
{
    QStringList out;
    for (const ServerFixture::Call &c : m_host.server().callsSinceMark())
        if (c.method == QLatin1String("SetAtualizaConcCSA"))
            out << c.params.at(4).toString() + QLatin1Char('=') + c.params.at(5).toString();
    return out;
}

void tst_screen_entry::valuesDownTheColumnLandOnTheirOwnRows()
{
    QVERIFY(load(s, QStringLiteral("19")));
    QCOMPARE(s->lblVrConcCrono->Caption(), QStringLiteral("48%"));
    m_host.server().markCalls();

    // By mouse: each value on the row it was typed in; the cursor goes on to
    // the row clicked, in the same column, its bookings fetched once.
    clickCell(s, 0, PERC);
    type(QStringLiteral("60"));
    clickCell(s, 1, PERC);
    QTRY_COMPARE(sentPercentages(), QStringList({"00001=60"}));
    QCOMPARE(m_host.server().methodsSinceMark(), QStringList({"SetAtualizaConcCSA"}) + kStoredReload);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    QCOMPARE(s->dbgPadrao->currentIndex(), cell(s, 1, PERC));
    QCOMPARE(s->cdsApropriaCSADTHRINIAPROCSA->AsString(), QStringLiteral("06/01/2026 08:00:00"));
    type(QStringLiteral("70"));
    key(Qt::Key_Return);
    QTRY_COMPARE(sentPercentages(), QStringList({"00001=60", "00002=70"}));
    // Return stays on the row stored; the summary follows what was stored.
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    QCOMPARE(s->lblVrConcCrono->Caption(), QStringLiteral("50%"));

    // By the arrow keys, with decimals typed with the point.
    key(Qt::Key_Down);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 3);
    type(QStringLiteral("8.5"));
    key(Qt::Key_Down);
    QTRY_COMPARE(sentPercentages().size(), 3);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 4);
    QCOMPARE(s->dbgPadrao->currentIndex(), cell(s, 3, PERC));
    type(QStringLiteral(",5"));
    key(Qt::Key_Up);
    QTRY_COMPARE(sentPercentages(), QStringList({"00001=60", "00002=70", "00003=8,5", "00004=0,5"}));
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 3);
    QCOMPARE(cell(s, 0, PERC).data().toString(), QStringLiteral("60%"));
    QCOMPARE(cell(s, 1, PERC).data().toString(), QStringLiteral("70%"));
    QCOMPARE(cell(s, 2, PERC).data().toString(), QStringLiteral("8,5%"));
    QCOMPARE(cell(s, 3, PERC).data().toString(), QStringLiteral("0,5%"));
}

void tst_screen_entry::charactersTypedBackToBack()
{
    QVERIFY(load(s, QStringLiteral("19")));
    clickCell(s, 2, PERC);
    m_host.server().markCalls();
    // A refused minus is dropped and nothing else: the digits right behind it
    // start the value.
    for (const char *keys : {"-", "4", "1"})
        QTest::keyClick(focused(), keys[0]);
    key(Qt::Key_Return);
    QTRY_COMPARE(sentPercentages(), QStringList({"00003=41"}));
    // The same characters committed by an input method, one by one.
    clickCell(s, 1, PERC);
    for (const QString &c : {QStringLiteral("-"), QStringLiteral("4"), QStringLiteral("2")}) {
        QInputMethodEvent committed;
        committed.setCommitString(c);
        QApplication::sendEvent(focused(), &committed);
    }
    key(Qt::Key_Return);
    QTRY_COMPARE(sentPercentages(), QStringList({"00003=41", "00002=42"}));
}

void tst_screen_entry::approvingWithAPercentagePending()
{
    QVERIFY(load(s, QStringLiteral("20")));
    clickCell(s, 1, IDCHECK);
    clickCell(s, 2, IDCHECK);
    clickCell(s, 3, PERC);
    type(QStringLiteral("44"));
    m_host.server().markCalls();
    QVERIFY(s->mnuConcluir->Enabled());
    key(Qt::Key_P, Qt::ControlModifier);
    // Both things asked for: the percentage stored, the marked activities
    // approved, then one reload.
    QTRY_COMPARE(m_host.server().methodsSinceMark(),
                 QStringList({"SetAtualizaConcCSA", "setAprovaAtividades"}) + kStoredReload);
    QCOMPARE(sentPercentages(), QStringList({"00004=44"}));
    QVERIFY(value(s, 0, QStringLiteral("DTHRAPROVATIVTA")).startsWith(QLatin1String("2026-01-15")));
    QVERIFY(!value(s, 1, QStringLiteral("DTHRAPROVATIVTA")).isEmpty());
    QVERIFY(!value(s, 2, QStringLiteral("DTHRAPROVATIVTA")).isEmpty());
    QVERIFY(value(s, 3, QStringLiteral("DTHRAPROVATIVTA")).isEmpty());
    QCOMPARE(value(s, 3, PERC), QStringLiteral("44"));
    QCOMPARE(marks(s), QStringList({"N", "N", "N", "N"}));
}

void tst_screen_entry::leavingForTheHeaderSendsThePercentage()
{
    QVERIFY(load(s, QStringLiteral("21")));
    clickCell(s, 1, PERC);
    type(QStringLiteral("46"));
    m_host.server().markCalls();
    QTest::mouseClick(s->edtCDFILIAL, Qt::LeftButton);
    QTRY_VERIFY(!s->cdsConcAtivProj->Active());
    QCOMPARE(sentPercentages(), QStringList({"00002=46"}));

    // A lookup from the header takes the list away too.
    QVERIFY(load(s, QStringLiteral("21")));
    clickCell(s, 3, PERC);
    type(QStringLiteral("48"));
    m_host.server().markCalls();
    ModalAnswer closeList([](QWidget *w) { return w->isModal(); }, [](QWidget *w) { w->close(); });
    QTest::mouseClick(s->btpProjeto, Qt::LeftButton);
    QTRY_VERIFY(!s->cdsConcAtivProj->Active());
    QCOMPARE(sentPercentages(), QStringList({"00004=48"}));
}

void tst_screen_entry::closingSendsThePercentage()
{
    QVERIFY(load(s, QStringLiteral("21")));
    clickCell(s, 2, PERC);
    type(QStringLiteral("47"));
    m_host.server().markCalls();
    QTest::mouseClick(s->sbtFechar, Qt::LeftButton);
    QTRY_VERIFY(!s->Visible());
    QCOMPARE(sentPercentages(), QStringList({"00003=47"}));
    IniProc();
    QTRY_VERIFY(s->Visible());
}

void tst_screen_entry::windowStateKeepsTheListAndTheFocus()
{
    QVERIFY(load(s, QStringLiteral("22")));
    clickCell(s, 1, IDCHECK);
    clickCell(s, 2, DESCRICAO);
    QCOMPARE(focused(), static_cast<QWidget *>(s->dbgPadrao));
    m_host.server().markCalls();
    QMdiSubWindow *frame = s->SubWindow();
    QVERIFY(frame);
    frame->showMaximized();
    QTRY_COMPARE(s->WindowState(), wsMaximized);
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->dbgPadrao));
    frame->showNormal();
    QTRY_COMPARE(s->WindowState(), wsNormal);
    frame->showMinimized();
    QTRY_COMPARE(s->WindowState(), wsMinimized);
    frame->showNormal();
    QTRY_COMPARE(s->WindowState(), wsNormal);
    frame->setFocus();
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->dbgPadrao));
    QVERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(marks(s), QStringList({"N", "S", "N", "N"}));
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 3);
    QCOMPARE(m_host.server().methodsSinceMark(), QStringList());
}

void tst_screen_entry::keyboardOnlyLoadMarkAndLeave()
{
    // Typed and tabbed out of the header: the activity grid has the keyboard.
    chooseBranch(s, QStringLiteral("1"));
    QCOMPARE(focused(), static_cast<QWidget *>(s->edtCDPROJETO));
    QTest::keyClicks(s->edtCDPROJETO, QStringLiteral("22"));
    QTest::keyClick(s->edtCDPROJETO, Qt::Key_Tab);
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(focused(), static_cast<QWidget *>(s->dbgPadrao));
    QVERIFY(s->dbgPadrao->currentIndex().isValid());

    // Down to the second activity, to the mark column, Space marks it.
    key(Qt::Key_Down);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    s->dbgPadrao->SetSelectedIndex(IndiceCol(s->dbgPadrao, IDCHECK));
    key(Qt::Key_Space);
    QCOMPARE(value(s, 1, IDCHECK), QStringLiteral("S"));

    // Tab moves between cells; Ctrl+Tab leaves the grid forward, and
    // Ctrl+Shift+Tab back to the header, which drops the list.
    key(Qt::Key_Tab);
    QCOMPARE(focused(), static_cast<QWidget *>(s->dbgPadrao));
    key(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(focused(), static_cast<QWidget *>(s->dbgApropriaCSA));
    QVERIFY(s->cdsConcAtivProj->Active());
    key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(focused(), static_cast<QWidget *>(s->dbgPadrao));
    QCOMPARE(value(s, 1, IDCHECK), QStringLiteral("S"));
    key(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QVERIFY(s->panFiltroProj->isAncestorOf(focused()));
    QTRY_VERIFY(!s->cdsConcAtivProj->Active());
}

void tst_screen_entry::cancelKeepsTheFocusOnTheRow()
{
    QVERIFY(load(s, QStringLiteral("22")));
    clickCell(s, 2, DESCRICAO);
    QTest::mouseClick(s->sbtAlterar, Qt::LeftButton);
    type(QStringLiteral("9"));
    QTest::mouseClick(s->sbtCancelar, Qt::LeftButton);
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
    QCOMPARE(focused(), static_cast<QWidget *>(s->dbgPadrao));
    QCOMPARE(s->dbgPadrao->currentIndex().row(), 2);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 3);
    QCOMPARE(value(s, 2, PERC), QStringLiteral("30"));
    // The next edit is of the same row.
    m_host.server().markCalls();
    QTest::mouseClick(s->sbtAlterar, Qt::LeftButton);
    type(QStringLiteral("31"));
    QTest::mouseClick(s->sbtConfirmar, Qt::LeftButton);
    QTRY_COMPARE(sentPercentages(), QStringList({"00003=31"}));
}

void tst_screen_entry::commandsAndNamesOfferWhatWorks()
{
    // An empty list: neither the verify button nor its menu item.
    QVERIFY(load(s, QStringLiteral("18")));
    QVERIFY(!s->sbtVerificar->isEnabled());
    QVERIFY(!s->mnuVerificar->isEnabled());
    QVERIFY(load(s, QStringLiteral("22")));
    QVERIFY(s->mnuVerificar->isEnabled());
    // Nothing to print, no help of its own: not offered.
    QVERIFY(!s->sbtImprimir->isEnabled());
    QVERIFY(!s->mnuListagem->isEnabled());
    QVERIFY(!s->sbtAjuda->isEnabled());
    // The summary's values are read out by their own captions.
    const std::pair<QWidget *, const char *> values[] = {
        {s->lblVrHrPlan, "Horas Planejadas"}, {s->lblVrHrReal, "Horas Realizadas"},
        {s->lblVrPlanXRel, "Planejado X Realizado (%)"}, {s->lblVrConcCrono, "Conclusão do Cronograma (%)"},
        {s->lblVrStatus, "Status de Planejamento"}};
    for (const auto &[label, name] : values) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(label);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), QString::fromUtf8(name));
    }
}

void tst_screen_entry::filterIsOffWhileEditing()
{
    // Last case: the filter dialog, once made, serves every later reload.
    QVERIFY(load(s, QStringLiteral("22")));
    clickCell(s, 1, PERC);
    type(QStringLiteral("2"));
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Edit);
    QVERIFY(!s->sbtFiltro->Enabled());
    QVERIFY(!s->mnuFiltrar->Enabled());
    key(Qt::Key_L, Qt::ControlModifier);
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Edit);
    QVERIFY(!frmFiltroConcAtivProj || !frmFiltroConcAtivProj->isVisible());
    key(Qt::Key_Escape);
}

QTEST_MAIN(tst_screen_entry)
#include "tst_screen_entry.moc"
