// The activity grid through the real screen against the real server: what is
// drawn per kind of row, marking one and all, refused keys, the texts of time
// and percentages, and the bookings test on keys with quotes.
#include "GridSteps.h"
#include "ScreenCase.h"

#include "ButtonFlat.h"
#include "Image.h"
#include "MenuItem.h"
#include "ShowAvi.h"

#include <QImage>
#include <QLineEdit>

using namespace GridSteps;

namespace {


// Every pixel of the icon that is not its olive background was drawn at
// (left, cell top), as far as the cell is high.
bool iconDrawn(const QImage &shot, const QRect &cell, const TImage *icon, int left)
{
    const QImage picture = icon->Picture().toImage().convertToFormat(QImage::Format_ARGB32);
    int compared = 0;
    for (int y = 0; y < qMin(picture.height(), cell.height()); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            if ((p & 0xFFFFFF) == (QColor(128, 128, 0).rgb() & 0xFFFFFF))
                continue;
            ++compared;
            if ((shot.pixel(left + x, cell.top() + y) & 0xFFFFFF) != (p & 0xFFFFFF))
                return false;
        }
    return compared > 0;
}

// The darkest pixel of a cell's inside: the colour its text was written in.
QColor inkOf(const QImage &shot, const QRect &cell)
{
    QColor darkest = Qt::white;
    for (int y = cell.top() + 2; y < cell.bottom() - 1; ++y)
        for (int x = cell.left() + 2; x < cell.right() - 1; ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.lightness() < darkest.lightness())
                darkest = c;
        }
    return darkest;
}

// Text edges are smoothed: the darkest pixel may miss the colour by a shade.
bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 4 && qAbs(a.green() - b.green()) <= 4 && qAbs(a.blue() - b.blue()) <= 4;
}

} // namespace

class tst_screen_grid : public GridCase
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void drawsIconsAndColoursPerKindOfRow();
    void timeAndPercentageTexts();
    void singleToggleRules();
    void titleClickMarksAndUnmarksAll();
    void titleClickWithoutRealStartsChangesNothing();
    void titleClickTakesTheFirstRealStartAsReference();
    void insertAndCtrlDeleteAreRefused();
    void emptyListOffersNothing();
    void bookingsTestTakesQuotesAsCharacters();

};

void tst_screen_grid::cleanup()
{
    QCOMPARE(ShowAviDepth(), 0);
    // Between two events the project's bookings are never left filtered.
    QVERIFY(!s->cdsCSAAux->Filtered());
    QVERIFY(s->cdsCSAAux->Filter().isEmpty());
}

void tst_screen_grid::drawsIconsAndColoursPerKindOfRow()
{
    QVERIFY(load(s, QStringLiteral("10")));
    expectMessages({});
    // Marks to show: the open activity marked, the alert one left unmarked.
    clickCell(s, 0, IDCHECK);
    QCOMPARE(value(s, 0, IDCHECK), QStringLiteral("S"));
    clickCell(s, 1, DESCRICAO); // the current cell away from the rows looked at
    s->dbgPadrao->viewport()->repaint();
    const QImage shot = s->dbgPadrao->viewport()->grab().toImage();
    if (!qEnvironmentVariableIsEmpty("VOR_GRID_SHOT"))
        s->grab().save(qEnvironmentVariable("VOR_GRID_SHOT"));

    auto mark = [&](int row) { return cellRect(s, row, IDCHECK); };
    // Open with bookings: ticked when "S", empty box otherwise.
    QVERIFY(iconDrawn(shot, mark(0), s->imgChecked, mark(0).left() + 1));
    QVERIFY(iconDrawn(shot, mark(3), s->imgUnchecked, mark(3).left() + 1));
    // Completed, or without bookings: the silver box.
    QVERIFY(iconDrawn(shot, mark(1), s->imgGrayCheck, mark(1).left() + 1));
    QVERIFY(iconDrawn(shot, mark(2), s->imgGrayCheck, mark(2).left() + 1));
    QVERIFY(iconDrawn(shot, mark(4), s->imgGrayCheck, mark(4).left() + 1));
    QVERIFY(!iconDrawn(shot, mark(2), s->imgUnchecked, mark(2).left() + 1));

    // Text colours: a completed row gray in every column; a row in alert green
    // (gray when also completed) with the warning at the description's end.
    const QColor gray(128, 128, 128), green(0, 128, 0);
    QCOMPARE(inkOf(shot, cellRect(s, 0, DESCRICAO)).lightness() < 40, true); // the grid's own black
    QVERIFY(near(inkOf(shot, cellRect(s, 1, QStringLiteral("NMOPERADOR"))), gray));
    QVERIFY(near(inkOf(shot, cellRect(s, 3, QStringLiteral("NMOPERADOR"))), green));
    QVERIFY(near(inkOf(shot, cellRect(s, 4, QStringLiteral("NMOPERADOR"))), gray));
    const QRect alerta = cellRect(s, 3, DESCRICAO);
    QVERIFY(iconDrawn(shot, alerta, s->imgAlerta, alerta.left() + alerta.width() - s->imgAlerta->PictureWidth()));
    const QRect alertaConcluida = cellRect(s, 4, DESCRICAO);
    QVERIFY(iconDrawn(shot, alertaConcluida, s->imgAlerta,
                      alertaConcluida.left() + alertaConcluida.width() - s->imgAlerta->PictureWidth()));
    // Last work before the approval: no alert, the grid's own colours.
    const QRect semAlerta = cellRect(s, 6, DESCRICAO);
    QVERIFY(!iconDrawn(shot, semAlerta, s->imgAlerta, semAlerta.left() + semAlerta.width() - 16));
    QVERIFY(inkOf(shot, semAlerta).lightness() < 40);
    QVERIFY(!iconDrawn(shot, cellRect(s, 0, DESCRICAO), s->imgAlerta,
                       cellRect(s, 0, DESCRICAO).right() + 1 - 16));
}

void tst_screen_grid::timeAndPercentageTexts()
{
    QVERIFY(load(s, QStringLiteral("10")));
    auto shown = [&](int row, const char *field) { return cell(s, row, QString::fromLatin1(field)).data().toString(); };
    // Hours as HH:MM:SS, every part truncated.
    QCOMPARE(shown(0, "QTTEMPLAITAR"), QStringLiteral("01:30:00"));
    QCOMPARE(shown(1, "QTTEMPLAITAR"), QStringLiteral("02:02:59"));
    QCOMPARE(shown(2, "QTTEMPLAITAR"), QStringLiteral("00:00:36"));
    QCOMPARE(shown(3, "QTTEMPLAITAR"), QStringLiteral("12:15:00"));
    QCOMPARE(shown(4, "QTTEMPLAITAR"), QStringLiteral("00:00:00"));
    QCOMPARE(shown(6, "QTTEMPLAITAR"), QString());
    // Percentages as the plain text and "%", decimal comma, nothing for no value.
    QCOMPARE(shown(0, "VRPERCCONCL"), QStringLiteral("40%"));
    QCOMPARE(shown(1, "VRPERCCONCL"), QStringLiteral("100%"));
    QCOMPARE(shown(2, "VRPERCCONCL"), QStringLiteral("0%"));
    QCOMPARE(shown(5, "VRPERCCONCL"), QStringLiteral("12,5%"));
    QCOMPARE(shown(6, "VRPERCCONCL"), QString());
    QCOMPARE(s->dbgApropriaCSA->model()->index(0, 2).data().toString(), QStringLiteral("12,5%"));
    clickCell(s, 6, DESCRICAO);
    QCOMPARE(s->dbgApropriaCSA->model()->index(0, 2).data().toString(), QString());
    expectMessages({});
}

void tst_screen_grid::singleToggleRules()
{
    QVERIFY(load(s, QStringLiteral("10")));
    QVERIFY(!s->sbtConcluir->Enabled());

    // No bookings: nothing changes, nothing is said.
    clickCell(s, 2, IDCHECK);
    QVERIFY(s->cdsApropriaCSA->IsEmpty());
    QCOMPARE(value(s, 2, IDCHECK), QStringLiteral("N"));
    QVERIFY(!s->sbtConcluir->Enabled());

    // An open activity toggles both ways, and the approve command with it.
    clickCell(s, 0, IDCHECK);
    QCOMPARE(value(s, 0, IDCHECK), QStringLiteral("S"));
    QVERIFY(s->sbtConcluir->Enabled());
    QVERIFY(s->mnuConcluir->Enabled());
    clickCell(s, 0, IDCHECK);
    QCOMPARE(value(s, 0, IDCHECK), QStringLiteral("N"));
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(!s->mnuConcluir->Enabled());

    // A completed activity with bookings toggles too, though drawn gray.
    clickCell(s, 1, IDCHECK);
    QCOMPARE(value(s, 1, IDCHECK), QStringLiteral("S"));
    // Clicks elsewhere in the row toggle nothing.
    clickCell(s, 1, DESCRICAO);
    QCOMPARE(value(s, 1, IDCHECK), QStringLiteral("S"));

    // Space on the mark column toggles the current activity.
    clickCell(s, 3, IDCHECK);
    QCOMPARE(value(s, 3, IDCHECK), QStringLiteral("S"));
    key(Qt::Key_Space);
    QCOMPARE(value(s, 3, IDCHECK), QStringLiteral("N"));
    key(Qt::Key_Space);
    QCOMPARE(value(s, 3, IDCHECK), QStringLiteral("S"));
    // ...and nowhere else.
    clickCell(s, 3, DESCRICAO);
    key(Qt::Key_Space);
    QCOMPARE(value(s, 3, IDCHECK), QStringLiteral("S"));

    // An empty mark becomes "N" first, then "S".
    clickCell(s, 0, DESCRICAO);
    s->cdsConcAtivProj->Edit();
    s->cdsConcAtivProjIDCHECK->SetAsString(QString());
    s->cdsConcAtivProj->Post();
    clickCell(s, 0, IDCHECK);
    QCOMPARE(value(s, 0, IDCHECK), QStringLiteral("N"));
    clickCell(s, 0, IDCHECK);
    QCOMPARE(value(s, 0, IDCHECK), QStringLiteral("S"));

    // Marks stay in the screen: nothing was sent.
    QVERIFY(!m_host.server().methodsSinceMark().contains(QStringLiteral("setAprovaAtividades")));
    expectMessages({});
}

void tst_screen_grid::titleClickMarksAndUnmarksAll()
{
    QVERIFY(load(s, QStringLiteral("10")));
    clickCell(s, 4, DESCRICAO);
    m_host.server().markCalls();

    // The first activity with a real start date is unmarked: every activity
    // with bookings gets "S", completed ones included; those without keep theirs.
    clickTitle(s, IDCHECK);
    QCOMPARE(marks(s), QStringList({"S", "S", "N", "S", "S", "S", "S", "N"}));
    QVERIFY(s->sbtConcluir->Enabled());
    QVERIFY(s->mnuConcluir->Enabled());
    // The first activity is current, with its bookings, in one round trip.
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 1);
    QCOMPARE(s->dbgPadrao->currentIndex().row(), 0);
    QCOMPARE(m_host.server().methodsSinceMark(), QStringList({"getApropriaCSA"}));
    QCOMPARE(texts(m_host.server().callsSinceMark().at(0).params), (QStringList{"0001", "0000000010", "T1", "1"}));
    QCOMPARE(s->cdsApropriaCSADSOBSAPROATVCSA->AsString(), QStringLiteral("Primeira"));
    QVERIFY(s->sbtAlterar->Enabled());

    // Again: all back to "N", and the approve command off.
    m_host.server().markCalls();
    clickTitle(s, IDCHECK);
    QCOMPARE(marks(s), QStringList({"N", "N", "N", "N", "N", "N", "N", "N"}));
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(!s->mnuConcluir->Enabled());
    QCOMPARE(m_host.server().methodsSinceMark(), QStringList({"getApropriaCSA"}));

    // Other titles do nothing.
    m_host.server().markCalls();
    clickTitle(s, DESCRICAO);
    clickTitle(s, QStringLiteral("VRPERCCONCL"));
    QCOMPARE(marks(s), QStringList({"N", "N", "N", "N", "N", "N", "N", "N"}));
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
    expectMessages({});
}

void tst_screen_grid::titleClickWithoutRealStartsChangesNothing()
{
    QVERIFY(load(s, QStringLiteral("14")));
    m_host.server().markCalls();
    clickTitle(s, IDCHECK);
    QCOMPARE(marks(s), QStringList({"N"}));
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
    expectMessages({});
}

void tst_screen_grid::titleClickTakesTheFirstRealStartAsReference()
{
    // The first row never started; the second did, unmarked: marking all.
    QVERIFY(load(s, QStringLiteral("17")));
    clickCell(s, 0, IDCHECK);
    QCOMPARE(marks(s), QStringList({"S", "N", "N"}));
    clickTitle(s, IDCHECK);
    QCOMPARE(marks(s), QStringList({"S", "S", "N"}));
    QVERIFY(s->sbtConcluir->Enabled());
    // Now the reference is marked: unmarking all, the row without a start too.
    clickTitle(s, IDCHECK);
    QCOMPARE(marks(s), QStringList({"N", "N", "N"}));
    QVERIFY(!s->sbtConcluir->Enabled());
    expectMessages({});
}

void tst_screen_grid::insertAndCtrlDeleteAreRefused()
{
    QVERIFY(load(s, QStringLiteral("10")));
    // The handler swallows Insert with any modifiers and Delete with Ctrl only;
    // the punctuation that shares their character codes passes.
    const struct
    {
        int key;
        Qt::KeyboardModifiers shift;
        int left;
    } cases[] = {{45, {}, 0}, {45, Qt::ShiftModifier, 0}, {46, Qt::ControlModifier, 0}, {46, {}, 46},
                 {189, {}, 189}, {190, {}, 190}};
    for (const auto &c : cases) {
        int k = c.key;
        s->dbgPadraoKeyDown(s->dbgPadrao, k, c.shift);
        QCOMPARE(k, c.left);
    }
    // Through real keys, nothing is inserted or deleted.
    clickCell(s, 1, DESCRICAO);
    key(Qt::Key_Insert);
    key(Qt::Key_Delete, Qt::ControlModifier);
    QCOMPARE(s->cdsConcAtivProj->RecordCount(), 8);
    QCOMPARE(s->cdsConcAtivProj->RecNo(), 2);
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
    expectMessages({});
}

void tst_screen_grid::emptyListOffersNothing()
{
    QVERIFY(load(s, QStringLiteral("18")));
    QVERIFY(s->cdsConcAtivProj->IsEmpty());
    QVERIFY(s->cdsApropriaCSA->IsEmpty());
    m_host.server().markCalls();
    QTest::mouseClick(s->dbgPadrao->viewport(), Qt::LeftButton, {}, QPoint(8, 8));
    clickTitle(s, IDCHECK);
    s->vd_IDCHECK();
    QVERIFY(!s->sbtConcluir->Enabled());
    QVERIFY(!s->sbtAlterar->Enabled());
    QVERIFY(!s->sbtVerificar->Enabled());
    QVERIFY(s->sbtFiltro->Enabled());
    QVERIFY(m_host.server().methodsSinceMark().isEmpty());
    expectMessages({});
}

void tst_screen_grid::bookingsTestTakesQuotesAsCharacters()
{
    QVERIFY(load(s, QStringLiteral("10")));
    clickCell(s, 7, DESCRICAO); // both rows in view
    s->dbgPadrao->viewport()->repaint();
    const QImage shot = s->dbgPadrao->viewport()->grab().toImage();
    // "T'3"/"1" has bookings, "T'3"/"2" has none.
    const QRect comAspas = cellRect(s, 5, IDCHECK), semHoras = cellRect(s, 7, IDCHECK);
    QVERIFY(iconDrawn(shot, comAspas, s->imgUnchecked, comAspas.left() + 1));
    QVERIFY(iconDrawn(shot, semHoras, s->imgGrayCheck, semHoras.left() + 1));
    expectMessages({});

    // Marking all walks past both correctly.
    clickTitle(s, IDCHECK);
    QCOMPARE(value(s, 5, IDCHECK), QStringLiteral("S"));
    QCOMPARE(value(s, 7, IDCHECK), QStringLiteral("N"));
    // The bookings of the quoted activity travel as typed.
    m_host.server().markCalls();
    clickCell(s, 5, IDCHECK);
    QCOMPARE(texts(m_host.server().callsSinceMark().at(0).params), (QStringList{"0001", "0000000010", "T'3", "1"}));
    QCOMPARE(value(s, 5, IDCHECK), QStringLiteral("N"));
    expectMessages({});
}

QTEST_MAIN(tst_screen_grid)
#include "tst_screen_grid.moc"
