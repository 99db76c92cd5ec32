// Approving, verifying, the command states and the editing of a completion
// percentage, through the real screen against the real server.
#include "GridSteps.h"
#include "ScreenCase.h"

#include "ButtonFlat.h"
#include "MenuItem.h"
#include "ShowAvi.h"
#include "SpeedButton.h"

#include <QClipboard>
#include <QJsonObject>
#include <QLineEdit>

using namespace GridSteps;

namespace {
const QStringList kReload = {"getConcAtivPro", "getApropriaCSA", "getApropriaCSA", "getCSAAux"};
} // namespace

class tst_screen_approval : public GridCase
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void approveWithNothingMarkedOnlyReloads();
    void approveSendsExactlyTheChangedRows();
    void verifyReloadsAndClearsMarks();
    void commandStatesInBrowseAndEdit();
    void anotherOperatorLooksAndMarksOnly();
    void percentageKeys();
    void onlyADigitStartsAnEdit();
    void changedPercentageIsSentAndReloaded();
    void unchangedOrEmptiedPercentageSendsNothing();
    void refusedTextIsRefusedAtPost();
    void moveWithPendingEditLandsOnTheRowClicked();

private:
    QLineEdit *editor() const { return s->dbgPadrao->InplaceEditor(); }
};

void tst_screen_approval::cleanup()
{
    QCOMPARE(ShowAviDepth(), 0);
    QVERIFY(!s->cdsConcAtivProj->Filtered());
    QVERIFY(!s->cdsConcAtivProj->ControlsDisabled());
}

void tst_screen_approval::approveWithNothingMarkedOnlyReloads()
{
    QVERIFY(load(s, QStringLiteral("12")));
    clickCell(s, 2, DESCRICAO);
    m_host.server().markCalls();
    // The command is off with nothing marked; its handler still only reloads.
    QVERIFY(!s->mnuConcluir->Enabled());
    s->sbtConcluirClick(s->sbtConcluir);
    QCOMPARE(m_host.server().methodsSinceMark(), kStoredReload);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 1);
    QVERIFY(!s->sbtConcluir->Enabled());
    expectMessages({});
}

void tst_screen_approval::approveSendsExactlyTheChangedRows()
{
    QVERIFY(load(s, QStringLiteral("12")));
    clickCell(s, 0, IDCHECK);
    clickCell(s, 1, IDCHECK);
    clickCell(s, 1, IDCHECK);
    QCOMPARE(marks(s), QStringList({"S", "N", "N"}));
    QVERIFY(s->mnuConcluir->Enabled());
    clickCell(s, 2, DESCRICAO);
    m_host.server().markCalls();

    // The change log as it stands: the third activity was never touched.
    const QJsonObject packet = s->cdsConcAtivProj->DeltaJson();
    const QJsonArray fields = packet.value(QStringLiteral("fields")).toArray();
    int mark = -1, seq = -1;
    for (int i = 0; i < fields.size(); ++i) {
        const QString name = fields.at(i).toObject().value(QStringLiteral("name")).toString();
        if (name == IDCHECK)
            mark = i;
        if (name == QLatin1String("CDSEQCRONPRJ"))
            seq = i;
    }
    QVERIFY(mark >= 0 && seq >= 0);
    QStringList changed;
    for (const QJsonValue &c : packet.value(QStringLiteral("changes")).toArray()) {
        const QJsonArray after = c.toObject().value(QStringLiteral("after")).toArray();
        changed << after.at(seq).toString() + QLatin1Char('=') + after.at(mark).toString();
    }
    changed.sort();
    QCOMPARE(changed, QStringList({"00001=S", "00002=N"}));

    key(Qt::Key_P, Qt::ControlModifier);
    QTRY_COMPARE(m_host.server().methodsSinceMark(), QStringList({"setAprovaAtividades"}) + kStoredReload);
    // What the server received: one packet of exactly those two changes.
    const QJsonObject sent = m_host.server().callsSinceMark().at(0).params.at(0).toObject();
    QCOMPARE(sent.value(QStringLiteral("changes")).toInt(), 2);

    // Reloaded: the approval date shows, no mark survives, the first row is
    // current with its bookings, and the approve command is off.
    QVERIFY(!value(s, 0, QStringLiteral("DTHRAPROVATIVTA")).isEmpty());
    QVERIFY(value(s, 1, QStringLiteral("DTHRAPROVATIVTA")).isEmpty());
    QCOMPARE(marks(s), QStringList({"N", "N", "N"}));
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 1);
    QCOMPARE(s->cdsConcAtivProj->ChangeCount(), 0);
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(!s->mnuConcluir->Enabled());
    QVERIFY(!s->cdsApropriaCSA->IsEmpty());
    expectMessages({});
}

void tst_screen_approval::verifyReloadsAndClearsMarks()
{
    QVERIFY(load(s, QStringLiteral("12")));
    clickCell(s, 1, IDCHECK);
    QVERIFY(s->sbtVerificar->Enabled());
    m_host.server().markCalls();
    const QStringList rows = shown(s, DESCRICAO);
    QVERIFY(rows.size() == 3 && !rows.first().isEmpty());
    QTest::mouseClick(s->sbtVerificar, Qt::LeftButton);
    QCOMPARE(m_host.server().methodsSinceMark(), kReload);
    // Nothing changed on the server: every answer came back as "not
    // modified", and the marked list is still the server's list again.
    for (const ServerFixture::Call &call : m_host.server().callsSinceMark())
        QCOMPARE(call.outcome, QStringLiteral("not-modified"));
    QCOMPARE(marks(s), QStringList({"N", "N", "N"}));
    QCOMPARE(shown(s, DESCRICAO), rows);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 1);
    QVERIFY(!s->sbtConcluir->Enabled());

    // The same again with no mark: the rows the list holds are kept as they are.
    m_host.server().markCalls();
    QTest::mouseClick(s->sbtVerificar, Qt::LeftButton);
    QCOMPARE(m_host.server().methodsSinceMark(), kReload);
    QCOMPARE(shown(s, DESCRICAO), rows);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 1);
    QVERIFY(!s->cdsApropriaCSA->IsEmpty());
    expectMessages({});
}

void tst_screen_approval::commandStatesInBrowseAndEdit()
{
    QVERIFY(load(s, QStringLiteral("13")));
    clickCell(s, 0, DESCRICAO);
    auto states = [&] {
        QStringList on;
        const QList<QPair<QString, bool>> all = {
            {"incluir", s->sbtIncluir->Enabled()}, {"alterar", s->sbtAlterar->Enabled()},
            {"excluir", s->sbtExcluir->Enabled()}, {"procurar", s->sbtProcurar->Enabled()},
            {"verificar", s->sbtVerificar->Enabled()}, {"cancelar", s->sbtCancelar->Enabled()},
            {"confirmar", s->sbtConfirmar->Enabled()}, {"filtro", s->sbtFiltro->Enabled()}};
        for (const auto &[name, enabled] : all)
            if (enabled)
                on << name;
        // Menu items follow their buttons.
        if (s->mnuIncluir->Enabled() != s->sbtIncluir->Enabled() || s->mnuAlterar->Enabled() != s->sbtAlterar->Enabled()
            || s->mnuExcluir->Enabled() != s->sbtExcluir->Enabled()
            || s->mnuCancelar->Enabled() != s->sbtCancelar->Enabled()
            || s->mnuConfirmar->Enabled() != s->sbtConfirmar->Enabled()
            || s->mnuFiltrar->Enabled() != s->sbtFiltro->Enabled())
            on << QStringLiteral("menu out of step");
        return on;
    };
    QCOMPARE(states(), QStringList({"alterar", "procurar", "verificar", "filtro"}));
    // Without bookings there is nothing to edit.
    clickCell(s, 2, DESCRICAO);
    QCOMPARE(states(), QStringList({"procurar", "verificar", "filtro"}));
    clickCell(s, 1, DESCRICAO);

    // The edit command: the percentage cell focused and empty, edit state.
    QTest::mouseClick(s->sbtAlterar, Qt::LeftButton);
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Edit);
    QCOMPARE(s->dbgPadrao->SelectedField()->FieldName(), PERC);
    QVERIFY(editor());
    QCOMPARE(editor()->text(), QString());
    QVERIFY(s->cdsConcAtivProjVRPERCCONCL->IsNull());
    QCOMPARE(states(), QStringList({"cancelar", "confirmar"}));
    // Only the percentage is editable: other columns switch editing off.
    QVERIFY(s->cdsConcAtivProjDESCRICAO->ReadOnly);
    QVERIFY(s->cdsConcAtivProjDTFIPATIVTAR->ReadOnly);

    // Cancel: the old value back, nothing sent.
    m_host.server().markCalls();
    QTest::mouseClick(s->sbtCancelar, Qt::LeftButton);
    QCOMPARE(s->cdsConcAtivProjVRPERCCONCL->AsFloat(), 20.0);
    QCOMPARE(states(), QStringList({"alterar", "procurar", "verificar", "filtro"}));
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
    clickCell(s, 1, DESCRICAO);
    QVERIFY(!(s->dbgPadrao->Options() & dgEditing));
    expectMessages({});
}

void tst_screen_approval::anotherOperatorLooksAndMarksOnly()
{
    QVERIFY(load(s, QStringLiteral("11")));
    clickCell(s, 0, DESCRICAO);
    QVERIFY(!s->cdsApropriaCSA->IsEmpty());
    QVERIFY(!s->sbtAlterar->Enabled());
    QVERIFY(!s->mnuAlterar->Enabled());
    clickCell(s, 0, IDCHECK);
    QCOMPARE(value(s, 0, IDCHECK), QStringLiteral("S"));
    QVERIFY(!s->sbtConcluir->Enabled());
    clickTitle(s, IDCHECK);
    clickTitle(s, IDCHECK);
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(!s->mnuConcluir->Enabled());
    // The percentage cell is no cell to type into.
    clickCell(s, 0, PERC);
    QVERIFY(!(s->dbgPadrao->Options() & dgEditing));
    type(QStringLiteral("5"));
    QVERIFY(!editor());
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
    QCOMPARE(s->cdsConcAtivProjVRPERCCONCL->AsFloat(), 30.0);
    expectMessages({});
}

void tst_screen_approval::percentageKeys()
{
    QVERIFY(load(s, QStringLiteral("13")));
    clickCell(s, 0, PERC);
    QVERIFY(s->dbgPadrao->Options() & dgEditing);
    m_host.server().markCalls();

    // Typing into a cell showing 40% starts a fresh value.
    type(QStringLiteral("5"));
    QVERIFY(editor());
    QCOMPARE(editor()->text(), QStringLiteral("5"));
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Edit);
    // Minus never; one comma, not two.
    type(QStringLiteral("-,,5"));
    QCOMPARE(editor()->text(), QStringLiteral("5,5"));
    key(Qt::Key_Escape);
    QCOMPARE(s->cdsConcAtivProjVRPERCCONCL->AsFloat(), 40.0);

    const struct
    {
        const char *typed;
        const char *kept;
    } cases[] = {{"100", "100"}, {"1001", "100"}, {"99,5", "99,5"}, {"100,5", "100,"}, {"100,0", "100,0"},
                 {"0,25", "0,25"}, {"101", "10"}};
    for (const auto &c : cases) {
        clickCell(s, 0, PERC);
        type(QString::fromLatin1(c.typed));
        QVERIFY2(editor(), c.typed);
        QCOMPARE(editor()->text(), QString::fromLatin1(c.kept));
        key(Qt::Key_Escape);
        QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
    }
    // A comma never starts a value: it starts "0,". The point and the
    // keypad's decimal key are the comma.
    clickCell(s, 0, PERC);
    type(QStringLiteral(","));
    QVERIFY(editor());
    QCOMPARE(editor()->text(), QStringLiteral("0,"));
    type(QStringLiteral("5,"));
    QCOMPARE(editor()->text(), QStringLiteral("0,5"));
    key(Qt::Key_Escape);
    clickCell(s, 0, PERC);
    type(QStringLiteral("8.5."));
    QCOMPARE(editor()->text(), QStringLiteral("8,5"));
    key(Qt::Key_Escape);
    clickCell(s, 0, PERC);
    type(QStringLiteral("8"));
    QTest::keyClick(editor(), Qt::Key_Period, Qt::KeypadModifier);
    type(QStringLiteral("5"));
    QCOMPARE(editor()->text(), QStringLiteral("8,5"));
    key(Qt::Key_Escape);
    QCOMPARE(s->cdsConcAtivProjVRPERCCONCL->AsFloat(), 40.0);
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
    expectMessages({});
}

void tst_screen_approval::onlyADigitStartsAnEdit()
{
    QVERIFY(load(s, QStringLiteral("13")));
    clickCell(s, 0, PERC);
    m_host.server().markCalls();
    // Keys that move or do nothing leave the value and the row alone.
    for (Qt::Key k : {Qt::Key_Backspace, Qt::Key_Tab, Qt::Key_Backtab, Qt::Key_Return, Qt::Key_Escape}) {
        clickCell(s, 0, PERC);
        key(k);
        if (editor())
            key(Qt::Key_Escape);
        QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
        QCOMPARE(value(s, 0, PERC), QStringLiteral("40"));
    }
    // Enter opens the cell on its text; leaving it untouched posts nothing.
    clickCell(s, 0, PERC);
    key(Qt::Key_Return);
    QVERIFY(editor());
    key(Qt::Key_Return);
    clickCell(s, 1, PERC);
    key(Qt::Key_Down);
    QCOMPARE(value(s, 0, PERC), QStringLiteral("40"));
    QVERIFY(!m_host.server().methodsSinceMark().contains(QStringLiteral("SetAtualizaConcCSA")));
    expectMessages({});
}

void tst_screen_approval::changedPercentageIsSentAndReloaded()
{
    QVERIFY(load(s, QStringLiteral("15")));
    clickCell(s, 1, IDCHECK); // a mark, gone after the update
    clickCell(s, 1, PERC);
    m_host.server().markCalls();
    type(QStringLiteral("12,55"));
    key(Qt::Key_Return);
    QTRY_COMPARE(m_host.server().methodsSinceMark(), QStringList({"SetAtualizaConcCSA"}) + kStoredReload);
    QCOMPARE(texts(m_host.server().callsSinceMark().at(0).params),
             (QStringList{"0001", "0000000015", "001", "001", "00002", "12,55"}));
    // Return stores the row and stays on it.
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    QCOMPARE(cell(s, 1, PERC).data().toString(), QStringLiteral("12,55%"));
    QCOMPARE(marks(s), QStringList({"N", "N", "N"}));
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);

    // Through the edit command and the confirm command.
    clickCell(s, 0, DESCRICAO);
    m_host.server().markCalls();
    QTest::mouseClick(s->sbtAlterar, Qt::LeftButton);
    type(QStringLiteral("100"));
    QTest::mouseClick(s->sbtConfirmar, Qt::LeftButton);
    QTRY_COMPARE(m_host.server().methodsSinceMark(), QStringList({"SetAtualizaConcCSA"}) + kStoredReload);
    QCOMPARE(texts(m_host.server().callsSinceMark().at(0).params).last(), QStringLiteral("100"));
    QCOMPARE(cell(s, 0, PERC).data().toString(), QStringLiteral("100%"));
    expectMessages({});
}

void tst_screen_approval::unchangedOrEmptiedPercentageSendsNothing()
{
    QVERIFY(load(s, QStringLiteral("13")));
    clickCell(s, 1, PERC);
    m_host.server().markCalls();
    // The same value typed again.
    type(QStringLiteral("20"));
    key(Qt::Key_Return);
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
    QCOMPARE(value(s, 1, PERC), QStringLiteral("20"));
    // The edit command, then a move to another row: the old value comes back.
    QTest::mouseClick(s->sbtAlterar, Qt::LeftButton);
    QVERIFY(s->cdsConcAtivProjVRPERCCONCL->IsNull());
    clickCell(s, 0, DESCRICAO);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 1);
    QCOMPARE(value(s, 1, PERC), QStringLiteral("20"));
    QCOMPARE(cell(s, 1, PERC).data().toString(), QStringLiteral("20%"));
    // Emptied by hand in the cell and confirmed.
    clickCell(s, 1, PERC);
    type(QStringLiteral("7"));
    key(Qt::Key_Backspace);
    QCOMPARE(editor()->text(), QString());
    key(Qt::Key_Return);
    QCOMPARE(value(s, 1, PERC), QStringLiteral("20"));
    QVERIFY(!m_host.server().methodsSinceMark().contains(QStringLiteral("SetAtualizaConcCSA")));
    expectMessages({});
}

void tst_screen_approval::refusedTextIsRefusedAtPost()
{
    QVERIFY(load(s, QStringLiteral("13")));
    clickCell(s, 0, PERC);
    m_host.server().markCalls();
    // Pasted past the key rules.
    type(QStringLiteral("1"));
    QApplication::clipboard()->setText(QStringLiteral("50"));
    key(Qt::Key_V, Qt::ControlModifier);
    if (editor()->text() != QLatin1String("150")) // no clipboard on this platform
        editor()->setText(QStringLiteral("150"));
    key(Qt::Key_Return);
    expectMessages({QStringLiteral("Percentual de conclusão deve ser menor ou igual a 100.")});
    QCOMPARE(value(s, 0, PERC), QStringLiteral("40"));
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
    // A negative one.
    clickCell(s, 0, PERC);
    type(QStringLiteral("5"));
    editor()->setText(QStringLiteral("-5"));
    key(Qt::Key_Return);
    expectMessages({QStringLiteral("Percentual de conclusão deve ser maior ou igual á 0.")});
    QCOMPARE(value(s, 0, PERC), QStringLiteral("40"));
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
}

void tst_screen_approval::moveWithPendingEditLandsOnTheRowClicked()
{
    QVERIFY(load(s, QStringLiteral("16")));
    clickCell(s, 0, PERC);
    type(QStringLiteral("33"));
    m_host.server().markCalls();
    clickCell(s, 2, DESCRICAO);
    // Sent, reloaded, and the cursor on the activity clicked, found by its
    // keys, in the column the user was in, with its bookings fetched once.
    QTRY_COMPARE(m_host.server().methodsSinceMark(), QStringList({"SetAtualizaConcCSA"}) + kStoredReload);
    QCOMPARE(texts(m_host.server().callsSinceMark().at(2).params).last(), QStringLiteral("3"));
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 3);
    QCOMPARE(s->dbgPadrao->currentIndex().row(), 2);
    QCOMPARE(value(s, 0, PERC), QStringLiteral("33"));
    QVERIFY(s->cdsApropriaCSA->IsEmpty());
    expectMessages({});
}

QTEST_MAIN(tst_screen_approval)
#include "tst_screen_approval.moc"
