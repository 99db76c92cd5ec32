// The data grid through the real widget: cursor sync both ways, owner-draw,
// clicks, key events, in-place editing and GridText/IndiceCol.
#include "TestData.h"

#include "DBGrid.h"
#include "DBNavigator.h"
#include "DBText.h"
#include "SpeedButton.h"
#include "Errors.h"
#include "Field.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPainter>
#include <QtTest>

namespace {

struct GridFixture
{
    TClientDataSet ds;
    TDataSource src;
    TDBGrid grid;
    int scrolls = 0;
    int posts = 0;

    explicit GridFixture(bool declareColumns = true)
    {
        fillPeople(ds, {{"A", "Ana", "x", "10"}, {"B", "Bruno", "y", "20"}, {"C", "Carla", "z", ""}});
        ds.AfterScroll = [this](TClientDataSet &) { ++scrolls; };
        ds.AfterPost = [this](TClientDataSet &) { ++posts; };
        src.SetDataSet(&ds);
        grid.SetDataSource(&src);
        if (declareColumns) {
            grid.AddColumn(QStringLiteral("CODE"));
            grid.AddColumn(QStringLiteral("NAME"), QStringLiteral("Pessoa"), 120);
            grid.AddColumn(QStringLiteral("PERC"));
        }
        grid.SetOptions(TDBGridOptions(dgTitles | dgColumnResize | dgColLines | dgRowLines | dgTabs
                                       | dgAlwaysShowSelection));
        grid.resize(420, 200);
        grid.show();
        QApplication::setActiveWindow(&grid);
        grid.setFocus();
    }
    QPoint cell(int row, int column) const
    {
        return grid.visualRect(grid.model()->index(row, column)).center();
    }
    void click(int row, int column) { QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, cell(row, column)); }
    QWidget *focus() const { return QApplication::focusWidget(); }
    void type(const QString &text)
    {
        for (const QChar c : text)
            QTest::keyClick(focus(), c.toLatin1());
    }
    double perc(int recNo)
    {
        const int token = ds.setActiveRecordForRead(recNo - 1);
        const double v = ds.FieldByName(QStringLiteral("PERC"))->AsFloat();
        ds.restoreActiveRecord(token);
        return v;
    }
};

} // namespace

class TstDBGrid : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void modelPassesTester()
    {
        GridFixture f;
        QAbstractItemModelTester tester(f.grid.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        fillPeople(f.ds, {{"D", "Davi", "", "1"}});
        f.ds.SetFilter(QStringLiteral("CODE = 'Z'"));
        f.ds.SetFiltered(true);
        f.ds.SetFiltered(false);
        f.ds.Edit();
        f.ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Dora"));
        f.ds.Post();
        f.grid.AddColumn(QStringLiteral("HIDDEN"));
        f.grid.Columns(0)->Title().SetCaption(QStringLiteral("Cód."));
        f.ds.Close();
        QCOMPARE(f.grid.model()->rowCount(), 0);
    }

    void columnsTitlesAndDefaults()
    {
        GridFixture declared;
        QCOMPARE(declared.grid.ColumnCount(), 3);
        QCOMPARE(declared.grid.model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Código"));
        QCOMPARE(declared.grid.model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Pessoa"));
        QCOMPARE(declared.grid.columnWidth(1), 120);
        QCOMPARE(declared.grid.model()->index(1, 1).data().toString(), QStringLiteral("Bruno"));

        GridFixture automatic(false);
        QStringList names;
        for (int i = 0; i < automatic.grid.ColumnCount(); ++i)
            names << automatic.grid.Columns(i)->FieldName();
        QCOMPARE(names, QStringList({"CODE", "NAME", "PERC"})); // HIDDEN is not visible

        QCOMPARE(IndiceCol(&declared.grid, QStringLiteral("perc")), 2);
        QCOMPARE(IndiceCol(&declared.grid, QStringLiteral("NOPE")), -1);
    }

    void displayTextComesFromTextHooks()
    {
        GridFixture f;
        f.ds.FieldByName(QStringLiteral("PERC"))->OnGetText = [](TField &field, QString &text, bool) {
            text = field.IsNull() ? QString() : field.AsString() + QLatin1Char('%');
        };
        QCOMPARE(f.grid.model()->index(0, 2).data().toString(), QStringLiteral("10%"));
        QCOMPARE(f.grid.model()->index(2, 2).data().toString(), QString());
    }

    void cursorFollowsBothWays()
    {
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.grid));
        QCOMPARE(f.grid.currentIndex().row(), 0);
        f.ds.Next();
        QCOMPARE(f.grid.currentIndex().row(), 1);
        f.scrolls = 0;
        f.click(2, 1);
        QCOMPARE(f.ds.RecNo(), 3);
        QCOMPARE(f.scrolls, 1);
        QCOMPARE(f.grid.SelectedField()->FieldName(), QStringLiteral("NAME"));
        f.click(2, 0); // same row: no scroll
        QCOMPARE(f.scrolls, 1);

        // Disabled controls neither follow nor repaint until enabled.
        int draws = 0;
        f.grid.OnDrawColumnCell = [&](QObject *, const QRect &, int, TColumn *, int) { ++draws; };
        f.ds.DisableControls();
        f.ds.First();
        QCOMPARE(f.grid.currentIndex().row(), 2);
        f.grid.viewport()->repaint();
        QCOMPARE(draws, 0);
        f.ds.EnableControls();
        QCOMPARE(f.grid.currentIndex().row(), 0);
        f.grid.viewport()->repaint();
        QVERIFY(draws > 0);
    }

    void ownerDrawSeesPaintedRowAsActive()
    {
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.grid));
        QPixmap icon(16, 16);
        icon.fill(clOlive);
        {
            QPainter p(&icon);
            p.fillRect(6, 6, 4, 4, Qt::black);
        }
        int calls = 0;
        bool allMatched = true;
        TField *code = f.ds.FieldByName(QStringLiteral("CODE"));
        f.grid.OnDrawColumnCell = [&](QObject *sender, const QRect &rect, int dataCol, TColumn *column, int) {
            ++calls;
            QCOMPARE(sender, &f.grid);
            const QModelIndex index = f.grid.indexAt(rect.center());
            allMatched = allMatched && index.column() == dataCol && column == f.grid.Columns(dataCol)
                         && code->AsString() == f.grid.model()->index(index.row(), 0).data().toString();
            TCanvas *canvas = f.grid.Canvas();
            if (code->AsString() == QLatin1String("B") && dataCol == 1) {
                canvas->Brush.Color = Qt::red;
                canvas->FillRect(rect);
                canvas->Font.Color = Qt::white;
                canvas->TextRect(rect, rect.left() + 2, rect.top() + 2, QStringLiteral("texto longo que passa da celula"));
            }
            if (code->AsString() == QLatin1String("C") && dataCol == 0) {
                canvas->Brush.Color = Qt::blue;
                canvas->FillRect(rect);
                canvas->BrushCopy(QRect(rect.left() + 1, rect.top(), 16, rect.height()), icon,
                                  QRect(0, 0, 16, rect.height()));
            }
        };
        f.ds.Next(); // the cursor is on B while other rows paint
        const QImage image = f.grid.viewport()->grab().toImage();
        QVERIFY(calls >= 9);
        QVERIFY(allMatched);
        QCOMPARE(code->AsString(), QStringLiteral("B")); // active record restored
        const QRect b = f.grid.visualRect(f.grid.model()->index(1, 1));
        QCOMPARE(image.pixelColor(b.right() - 1, b.bottom() - 1), QColor(Qt::red));
        // Clipped: the next cell is not painted red.
        const QRect next = f.grid.visualRect(f.grid.model()->index(1, 2));
        QVERIFY(image.pixelColor(next.center()) != QColor(Qt::red));
        const QRect c = f.grid.visualRect(f.grid.model()->index(2, 0));
        QCOMPARE(image.pixelColor(c.left() + 1, c.top()), QColor(Qt::blue));   // olive took the brush
        QCOMPARE(image.pixelColor(c.left() + 1 + 7, c.top() + 7), QColor(Qt::black));
    }

    void drawHandlerFaultReportedOnce()
    {
        PresenterRecorder errors;
        GridFixture f;
        f.grid.OnDrawColumnCell = [](QObject *, const QRect &, int, TColumn *, int) {
            throw EVorError(QStringLiteral("pintura"));
        };
        f.grid.viewport()->repaint();
        QTRY_COMPARE(errors.shown, QStringList({"pintura"}));
    }

    void cellTitleAndColumnEvents()
    {
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowExposed(&f.grid));
        QStringList log;
        f.grid.OnCellClick = [&](TColumn *c) { log << "cell " + c->FieldName() + " " + f.ds.FieldByName("CODE")->AsString(); };
        f.grid.OnTitleClick = [&](TColumn *c) { log << "title " + c->FieldName(); };
        f.grid.OnColEnter = [&](QObject *) { log << "colenter " + f.grid.SelectedField()->FieldName(); };
        f.click(1, 1);
        QCOMPARE(log, QStringList({"colenter NAME", "cell NAME B"}));
        log.clear();
        QHeaderView *header = f.grid.horizontalHeader();
        const QPoint title(header->sectionViewportPosition(2) + header->sectionSize(2) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, title);
        QCOMPARE(log, QStringList({"title PERC"}));
        QCOMPARE(f.ds.RecNo(), 2); // a title click moves nothing
        log.clear();
        f.grid.SetSelectedIndex(2);
        f.grid.SetSelectedIndex(2);
        QCOMPARE(log, QStringList({"colenter PERC"}));
        QCOMPARE(f.grid.SelectedIndex(), 2);
    }

    void keyEventsAndSwallowing()
    {
        GridFixture f;
        QList<int> downs;
        QString presses;
        f.grid.OnKeyDown = [&](QObject *, int &key, Qt::KeyboardModifiers shift) {
            downs << key;
            if (key == Vk::Insert || (key == Vk::Delete && (shift & Qt::ControlModifier)) || key == Vk::Next)
                key = 0;
        };
        f.grid.OnKeyPress = [&](QObject *, QChar &key) {
            presses.append(key);
            if (key == QLatin1Char('q'))
                key = QChar();
        };
        QTest::keyClick(&f.grid, Qt::Key_Down);
        QCOMPARE(f.ds.RecNo(), 2);
        QTest::keyClick(&f.grid, Qt::Key_PageDown); // swallowed: no move
        QCOMPARE(f.ds.RecNo(), 2);
        QTest::keyClick(&f.grid, Qt::Key_Insert);
        QTest::keyClick(&f.grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(downs, QList<int>({Vk::Down, Vk::Next, Vk::Insert, Vk::Control, Vk::Delete}));
        QTest::keyClick(&f.grid, Qt::Key_Space);
        QTest::keyClick(&f.grid, 'q');
        QCOMPARE(presses, QStringLiteral(" q"));
        QCOMPARE(f.ds.RecNo(), 2); // typed characters never search/move
    }

    void inPlaceEditingSwitchedAtRunTime()
    {
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.grid));
        f.click(0, 2);
        // Off: typing changes nothing.
        f.type(QStringLiteral("7"));
        QVERIFY(!f.grid.InplaceEditor());
        QCOMPARE(f.ds.state(), TClientDataSet::State::Browse);

        f.grid.SetOption(dgEditing, true);
        f.type(QStringLiteral("7"));
        QVERIFY(f.grid.InplaceEditor());
        QCOMPARE(f.grid.InplaceEditor()->text(), QStringLiteral("7"));
        QCOMPARE(f.ds.state(), TClientDataSet::State::Edit);
        f.type(QStringLiteral("5"));
        QCOMPARE(GridText(&f.grid, QStringLiteral("PERC"), false), QStringLiteral("75"));
        QTest::keyClick(f.focus(), Qt::Key_Return);
        QTRY_VERIFY(!f.grid.InplaceEditor());
        QCOMPARE(f.perc(1), 75.0);
        QCOMPARE(f.ds.state(), TClientDataSet::State::Browse);
        QCOMPARE(f.posts, 1);

        // Escape cancels the row's edit.
        f.type(QStringLiteral("9"));
        QTest::keyClick(f.focus(), Qt::Key_Escape);
        QTRY_VERIFY(!f.grid.InplaceEditor());
        QCOMPARE(f.perc(1), 75.0);
        QCOMPARE(f.ds.state(), TClientDataSet::State::Browse);

        // Moving to another row posts the text typed so far.
        f.type(QStringLiteral("3"));
        QTest::keyClick(f.focus(), Qt::Key_Down);
        QTRY_COMPARE(f.ds.RecNo(), 2);
        QCOMPARE(f.perc(1), 3.0);
        QCOMPARE(f.posts, 2);

        // Switching editing off keeps the typed text in the field.
        f.type(QStringLiteral("4"));
        f.grid.SetOption(dgEditing, false);
        QVERIFY(!f.grid.InplaceEditor());
        QCOMPARE(f.ds.FieldByName(QStringLiteral("PERC"))->AsFloat(), 4.0);
        f.ds.Cancel();

        // Read-only fields are never edited.
        f.grid.SetOption(dgEditing, true);
        // Enter on an editable cell opens the editor on the field's text.
        QTest::keyClick(f.focus(), Qt::Key_Return);
        QVERIFY(f.grid.InplaceEditor());
        QCOMPARE(f.grid.InplaceEditor()->text(), QStringLiteral("20"));
        QTest::keyClick(f.focus(), Qt::Key_Escape);
        QTRY_VERIFY(!f.grid.InplaceEditor());

        f.ds.FieldByName(QStringLiteral("NAME"))->ReadOnly = true;
        f.click(1, 1);
        f.type(QStringLiteral("x"));
        QVERIFY(!f.grid.InplaceEditor());
        QCOMPARE(f.ds.state(), TClientDataSet::State::Browse);
    }

    void editorKeysRunGridEventsAndGridText()
    {
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.grid));
        f.grid.SetOption(dgEditing, true);
        f.click(0, 2);
        TField *perc = f.ds.FieldByName(QStringLiteral("PERC"));
        QCOMPARE(GridText(&f.grid, QStringLiteral("PERC"), false), QStringLiteral("10"));
        QCOMPARE(GridText(&f.grid, QStringLiteral("PERC"), true), QString());
        QStringList seen;
        // As a screen does: the first key of a browse row starts an emptied edit;
        // '-' is refused; the limit looks at the text the key is added to.
        f.grid.OnKeyPress = [&](QObject *, QChar &key) {
            if (f.ds.state() == TClientDataSet::State::Browse) {
                f.ds.Edit();
                perc->Clear();
            }
            seen << GridText(&f.grid, QStringLiteral("PERC"), false) + "|" + GridText(&f.grid, QStringLiteral("PERC"), true);
            if (key == QLatin1Char('-'))
                key = QChar();
        };
        f.type(QStringLiteral("5-0"));
        QCOMPARE(f.grid.InplaceEditor()->text(), QStringLiteral("50"));
        QCOMPARE(seen, QStringList({"|", "5|5", "5|5"}));
        f.grid.InplaceEditor()->selectAll();
        QCOMPARE(GridText(&f.grid, QStringLiteral("PERC"), true), QString());
        f.grid.InplaceEditor()->setSelection(1, 1);
        QCOMPARE(GridText(&f.grid, QStringLiteral("PERC"), true), QStringLiteral("5"));
        QCOMPARE(GridText(&f.grid, QStringLiteral("NAME"), true), QString());
        QCOMPARE(GridText(&f.grid, QStringLiteral("NOPE"), false), QString());
        QTest::keyClick(f.focus(), Qt::Key_Return);
        QTRY_VERIFY(!f.grid.InplaceEditor());
        QCOMPARE(f.perc(1), 50.0);
    }

    void captionAndNavigatorFollowTheCursor()
    {
        GridFixture f;
        TDBText caption;
        caption.SetDataSource(&f.src);
        caption.SetDataField(QStringLiteral("NAME"));
        TDBNavigator navigator;
        navigator.SetDataSource(&f.src);
        QCOMPARE(caption.Caption(), QStringLiteral("Ana"));
        QVERIFY(!navigator.button(TDBNavigator::nbPrior)->isEnabled());
        QTest::mouseClick(navigator.button(TDBNavigator::nbLast), Qt::LeftButton);
        QCOMPARE(f.ds.RecNo(), 3);
        QCOMPARE(f.grid.currentIndex().row(), 2);
        QCOMPARE(caption.Caption(), QStringLiteral("Carla"));
        QVERIFY(!navigator.button(TDBNavigator::nbNext)->isEnabled());
        navigator.BtnClick(TDBNavigator::nbPrior);
        QCOMPARE(caption.Caption(), QStringLiteral("Bruno"));
        f.ds.Edit();
        f.ds.FieldByName(QStringLiteral("NAME"))->SetAsString(QStringLiteral("Beto"));
        QCOMPARE(caption.Caption(), QStringLiteral("Beto"));
        QCOMPARE(f.grid.model()->index(1, 1).data().toString(), QStringLiteral("Beto"));
        f.ds.Cancel();
        QCOMPARE(caption.Caption(), QStringLiteral("Bruno"));
    }

    void refusedTextKeepsUserInCell()
    {
        PresenterRecorder errors;
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.grid));
        f.grid.SetOption(dgEditing, true);
        f.click(0, 2);
        f.type(QStringLiteral("--"));
        QTest::keyClick(f.focus(), Qt::Key_Down);
        QCOMPARE(errors.shown.size(), 1); // "--" is no number
        QVERIFY(f.grid.InplaceEditor());
        QCOMPARE(f.ds.RecNo(), 1);
        QTest::keyClick(f.focus(), Qt::Key_Escape);
        QTRY_VERIFY(!f.grid.InplaceEditor());
        QCOMPARE(f.perc(1), 10.0);
    }

    void numberCellTakesOnlyWhatNumbersAreWrittenWith()
    {
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.grid));
        f.grid.SetOption(dgEditing, true);
        QString seen;
        f.grid.OnKeyPress = [&](QObject *, QChar &key) { seen += key; };
        f.click(0, 2);
        f.type(QStringLiteral("x%"));
        QVERIFY(!f.grid.InplaceEditor()); // nothing opened the editor
        QCOMPARE(f.ds.state(), TClientDataSet::State::Browse);
        QCOMPARE(seen, QStringLiteral("x%")); // the handler still saw them first
        f.type(QStringLiteral("1a2"));
        QVERIFY(f.grid.InplaceEditor());
        QCOMPARE(f.grid.InplaceEditor()->text(), QStringLiteral("12"));
        // A text column takes anything.
        QTest::keyClick(f.focus(), Qt::Key_Escape);
        f.click(0, 1);
        f.type(QStringLiteral("x"));
        QVERIFY(f.grid.InplaceEditor());
        QCOMPARE(f.grid.InplaceEditor()->text(), QStringLiteral("x"));
    }

    void postOfARowMoveSeesTheColumnLeft()
    {
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.grid));
        f.grid.SetOption(dgEditing, true);
        QString columnAtPost;
        f.ds.AfterPost = [&](TClientDataSet &) { columnAtPost = f.grid.SelectedField()->FieldName(); };
        f.click(0, 2);
        f.type(QStringLiteral("5"));
        f.click(2, 0); // another row, another column
        QCOMPARE(columnAtPost, QStringLiteral("PERC"));
        QCOMPARE(f.perc(1), 5.0);
        QCOMPARE(f.ds.RecNo(), 3);
        QCOMPARE(f.grid.SelectedField()->FieldName(), QStringLiteral("CODE"));
    }

    void rowMoveWhosePostReloadsStaysWhereTheReloadPutIt()
    {
        // The post's reaction re-reads the rows (as a screen does after sending
        // a changed value): the move must not carry on inside the new rows.
        GridFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.grid));
        f.grid.SetOption(dgEditing, true);
        QStringList clicks;
        f.grid.OnCellClick = [&](TColumn *c) { clicks << c->FieldName(); };
        f.ds.AfterPost = [&](TClientDataSet &) {
            ++f.posts;
            fillPeople(f.ds, {{"A", "Ana", "x", "55"}, {"B", "Bruno", "y", "20"}, {"C", "Carla", "z", ""},
                              {"D", "Davi", "w", "1"}});
        };
        f.click(0, 2);
        f.type(QStringLiteral("55"));
        f.scrolls = 0;
        clicks.clear();
        f.click(2, 1);
        QCOMPARE(f.posts, 1);
        QCOMPARE(f.scrolls, 1); // the reload's own move to its first row, nothing more
        QCOMPARE(f.ds.RecNo(), 1);
        QCOMPARE(f.ds.RecordCount(), 4);
        QCOMPARE(f.grid.currentIndex().row(), 0);
        QVERIFY(clicks.isEmpty()); // the clicked cell belonged to the rows that are gone
        const QModelIndexList selected = f.grid.selectionModel()->selectedIndexes();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), 0);

        // By keyboard too.
        f.type(QStringLiteral("7"));
        QVERIFY(f.grid.InplaceEditor());
        f.scrolls = 0;
        QTest::keyClick(f.focus(), Qt::Key_Down);
        QCOMPARE(f.posts, 2);
        QCOMPARE(f.scrolls, 1);
        QCOMPARE(f.ds.RecNo(), 1);
        QCOMPARE(f.grid.currentIndex().row(), 0);

        // A post that fails leaves the cursor on its row as well.
        PresenterRecorder errors;
        f.ds.AfterPost = [](TClientDataSet &) { throw EVorError(QStringLiteral("recusado")); };
        f.type(QStringLiteral("9"));
        f.click(3, 1);
        QCOMPARE(errors.shown, QStringList({"recusado"}));
        QCOMPARE(f.ds.RecNo(), 1);
        QCOMPARE(f.grid.currentIndex().row(), 0);
        // Without a pending edit, clicks move as ever.
        f.click(3, 1);
        QCOMPARE(f.ds.RecNo(), 4);

        // The navigator's moves the same.
        TDBNavigator navigator;
        navigator.SetDataSource(&f.src);
        f.ds.AfterPost = [&](TClientDataSet &) {
            ++f.posts;
            fillPeople(f.ds, {{"A", "Ana", "x", "1"}, {"B", "Bruno", "y", "2"}, {"C", "Carla", "z", "3"}});
        };
        f.ds.First();
        f.ds.Edit();
        f.ds.FieldByName(QStringLiteral("PERC"))->SetAsFloat(9);
        f.scrolls = 0;
        navigator.BtnClick(TDBNavigator::nbNext);
        QCOMPARE(f.ds.RecNo(), 1);
        QCOMPARE(f.scrolls, 1);
        navigator.BtnClick(TDBNavigator::nbNext);
        QCOMPARE(f.ds.RecNo(), 2);
    }

    // While a row move posts, the row moved to is known (a reload can put the
    // cursor there itself); at any other time there is none.
    void moveTargetDuringThePost()
    {
        GridFixture f;
        f.grid.SetOption(dgEditing, true);
        QList<int> targets;
        f.ds.AfterPost = [&](TClientDataSet &) { targets << f.grid.MoveTargetRow(); };
        f.click(0, 2);
        f.type(QStringLiteral("5"));
        f.click(2, 1);
        f.click(2, 2);
        f.type(QStringLiteral("6"));
        QTest::keyClick(f.focus(), Qt::Key_Return);
        QCOMPARE(targets, QList<int>({2, -1}));
        QCOMPARE(f.grid.MoveTargetRow(), -1);
    }

    // Ctrl+Tab and Ctrl+Shift+Tab leave the grid, from the grid or its
    // editor (the editor's text going to its field); Tab stays inside.
    void ctrlTabLeavesTheGrid()
    {
        QWidget window;
        auto *before = new QLineEdit(&window);
        GridFixture f;
        f.grid.setParent(&window);
        auto *after = new QLineEdit(&window);
        QWidget::setTabOrder(before, &f.grid);
        QWidget::setTabOrder(&f.grid, after);
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
        f.grid.SetOption(dgEditing, true);
        f.grid.setFocus();
        f.click(0, 1);
        QTest::keyClick(f.focus(), Qt::Key_Tab);
        QCOMPARE(f.focus(), static_cast<QWidget *>(&f.grid));
        QTest::keyClick(f.focus(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(f.focus(), static_cast<QWidget *>(after));
        f.grid.setFocus();
        f.type(QStringLiteral("7"));
        QVERIFY(f.grid.InplaceEditor());
        QTest::keyClick(f.focus(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(f.focus(), static_cast<QWidget *>(before));
        QCOMPARE(f.ds.FieldByName(QStringLiteral("PERC"))->AsFloat(), 7.0);
    }

    // Characters are data for the cell or refused, however they come: never
    // a type-ahead jump to another row, also when an input method commits them.
    void noTypeAhead()
    {
        GridFixture f;
        f.click(1, 0);
        QTest::keyClicks(f.focus(), QStringLiteral("C"));
        f.grid.keyboardSearch(QStringLiteral("C"));
        QInputMethodEvent committed;
        committed.setCommitString(QStringLiteral("Ca"));
        QApplication::sendEvent(&f.grid, &committed);
        QCOMPARE(f.ds.RecNo(), 2);
        QCOMPARE(f.grid.currentIndex().row(), 1);
    }

    // Enter posts a pending edit whose editor is closed, also on an editable cell.
    void enterPostsAPendingEdit()
    {
        GridFixture f;
        f.grid.SetOption(dgEditing, true);
        f.click(1, 2);
        f.ds.Edit();
        f.ds.FieldByName(QStringLiteral("PERC"))->SetAsFloat(33);
        QVERIFY(!f.grid.InplaceEditor());
        QTest::keyClick(f.focus(), Qt::Key_Return);
        QCOMPARE(f.ds.state(), TClientDataSet::State::Browse);
        QCOMPARE(f.posts, 1);
        QCOMPARE(f.perc(2), 33.0);
    }
};

QTEST_MAIN(TstDBGrid)
#include "tst_ui_dbgrid.moc"
