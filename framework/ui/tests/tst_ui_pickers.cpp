// Lookup button, multi-pick list and busy window, driven as a user would.
#include "TestData.h"

#include "Application.h"
#include "BtnPesquisa.h"
#include "Edit.h"
#include "Errors.h"
#include "Field.h"
#include "Form.h"
#include "Panel.h"
#include "PesquisaLista.h"
#include "RadioButton.h"
#include "Routines.h"
#include "ShowAvi.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QLabel>
#include <QLineEdit>
#include <QTableView>
#include <QtTest>
#include <functional>

namespace {

// Runs action on the modal dialog once it is up (polling the event loop, as
// the dialog's exec() starts its own).
QPointer<QTimer> whenModal(std::function<void(QWidget *)> action)
{
    auto *timer = new QTimer();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        QPointer<QWidget> guard = dialog;
        action(dialog);
        // A failed check inside the action must not leave the test hanging.
        if (auto *d = qobject_cast<QDialog *>(guard.data()); d && d->isVisible())
            d->reject();
    });
    timer->start();
    return timer;
}

QTableView *listOf(QWidget *dialog)
{
    return dialog->findChild<QTableView *>(QStringLiteral("list"));
}

QLineEdit *searchOf(QWidget *dialog)
{
    return dialog->findChild<QLineEdit *>(QStringLiteral("search"));
}

QStringList markedCodes(QWidget *dialog)
{
    QStringList codes;
    QAbstractItemModel *m = listOf(dialog)->model();
    for (int r = 0; r < m->rowCount(); ++r)
        if (m->index(r, 0).data(Qt::CheckStateRole).toInt() == Qt::Checked)
            codes << m->index(r, 1).data().toString();
    return codes;
}

struct People
{
    TClientDataSet ds;
    TDataSource src;
    People()
    {
        fillPeople(ds, {{"A", "Ana"}, {"B", "Bruno"}, {"C", "Carla"}, {"O'Brien", "Oscar"}});
        src.SetDataSet(&ds);
    }
};

} // namespace

class TstPickers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void lookupPicksWithSearch()
    {
        People p;
        TBtnPesquisa button;
        button.SetDataSource(&p.src);
        button.SetTitle(QStringLiteral("Pessoas"));
        QStringList log;
        button.OnBeforePesq = [&](QObject *sender, bool &) {
            QCOMPARE(sender, &button);
            log << QStringLiteral("before");
        };
        button.OnAfterPesq = [&](QObject *) { log << "after " + p.ds.FieldByName("CODE")->AsString(); };
        QString title;
        int columns = 0, fontPixels = 0;
        whenModal([&](QWidget *dialog) {
            title = dialog->windowTitle();
            columns = listOf(dialog)->model()->columnCount();
            fontPixels = listOf(dialog)->font().pixelSize();
            QTest::keyClicks(searchOf(dialog), QStringLiteral("carl"));
            QCOMPARE(listOf(dialog)->model()->rowCount(), 1);
            QTest::keyClick(searchOf(dialog), Qt::Key_Return);
        });
        QVERIFY(button.Execute());
        QCOMPARE(title, QStringLiteral("Pessoas"));
        QCOMPARE(columns, 3); // visible fields only
        QCOMPARE(fontPixels, TForm::kFamilyFontPixels); // the forms' font, not the desktop's
        QCOMPARE(p.ds.RecNo(), 3);
        QCOMPARE(log, QStringList({"before", "after C"}));
    }

    void lookupPicksByDoubleClick()
    {
        People p;
        TBtnPesquisa button;
        button.SetDataSource(&p.src);
        button.show();
        int after = 0;
        button.OnAfterPesq = [&](QObject *) { ++after; };
        whenModal([](QWidget *dialog) {
            QTableView *view = listOf(dialog);
            const QPoint at = view->visualRect(view->model()->index(1, 1)).center();
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        });
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(p.ds.RecNo(), 2);
        QCOMPARE(after, 1);
    }

    void lookupCancelAndRefusal()
    {
        PresenterRecorder errors;
        People p;
        p.ds.Last();
        TBtnPesquisa button;
        button.SetDataSource(&p.src);
        int after = 0, scrolls = 0;
        button.OnAfterPesq = [&](QObject *) { ++after; };
        p.ds.AfterScroll = [&](TClientDataSet &) { ++scrolls; };
        whenModal([](QWidget *dialog) {
            QTest::keyClick(searchOf(dialog), Qt::Key_Down);
            QTest::keyClick(searchOf(dialog), Qt::Key_Escape);
        });
        QVERIFY(!button.Execute());
        QCOMPARE(p.ds.RecNo(), 4);
        QCOMPARE(after, 0);
        QCOMPARE(scrolls, 0);

        // A raising before-search handler ends the press: no list at all.
        bool listShown = false;
        button.OnBeforePesq = [](QObject *, bool &) { MensErro(QStringLiteral("Filial deve ser informada"), true); };
        QPointer<QTimer> watcher = whenModal([&](QWidget *dialog) {
            listShown = true;
            static_cast<QDialog *>(dialog)->reject();
        });
        QVERIFY(!button.Execute());
        QVERIFY(!listShown);
        delete watcher.data();
        QCOMPARE(errors.shown, QStringList({"Filial deve ser informada"}));
        QCOMPARE(after, 0);

        // Without a data source it is a plain button.
        TBtnPesquisa plain;
        int clicks = 0;
        plain.OnClick = [&](QObject *) { ++clicks; };
        plain.show();
        QTest::mouseClick(&plain, Qt::LeftButton);
        QCOMPARE(clicks, 1);
    }

    // F4 and Alt+Down in the code box press its lookup button, as a click
    // would; the focus comes back to the box and no enter/exit handler runs.
    void lookupOpensFromItsBoxByKey()
    {
        app(); // the host's: the window under a closed dialog takes the keyboard back
        People p;
        QWidget window;
        auto *header = new TPanel(&window);
        auto *code = new TEdit(header);
        auto *button = new TBtnPesquisa(header);
        button->move(120, 0);
        auto *other = new TEdit(&window);
        other->move(0, 60);
        button->SetDataSource(&p.src);
        button->SetAssociate(code);
        int after = 0, moves = 0, shortcuts = 0;
        button->OnAfterPesq = [&](QObject *) { ++after; };
        for (FocusEvents *f : std::initializer_list<FocusEvents *>{header, code, other})
            f->OnEnter = f->OnExit = [&](QObject *) { ++moves; };
        // A window shortcut on the same key must not take it from the box.
        auto *f4 = new QAction(&window);
        f4->setShortcut(Qt::Key_F4);
        window.addAction(f4);
        QObject::connect(f4, &QAction::triggered, &window, [&] { ++shortcuts; });
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        code->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(code));
        moves = 0;

        whenModal([](QWidget *dialog) {
            QTest::keyClicks(searchOf(dialog), QStringLiteral("bru"));
            QTest::keyClick(searchOf(dialog), Qt::Key_Return);
        });
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F4);
        QCOMPARE(p.ds.RecNo(), 2);
        QCOMPARE(after, 1);
        QCOMPARE(shortcuts, 0);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(code));

        bool shown = false;
        whenModal([&](QWidget *dialog) {
            shown = true;
            QTest::keyClick(searchOf(dialog), Qt::Key_Escape);
        });
        QTest::keyClick(code, Qt::Key_Down, Qt::AltModifier);
        QVERIFY(shown);
        QCOMPARE(p.ds.RecNo(), 2);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(code));
        QCOMPARE(moves, 0);

        // A disabled button opens nothing.
        button->SetEnabled(false);
        shown = false;
        QPointer<QTimer> watcher = whenModal([&](QWidget *) { shown = true; });
        QTest::keyClick(code, Qt::Key_F4);
        QVERIFY(!shown);
        delete watcher.data();
    }

    // A plain button (no data source) beside a radio choice: the key runs its
    // OnClick, and Alt+Down does not move the choice to the next radio button.
    void plainLookupOpensFromItsRadioChoice()
    {
        QWidget window;
        auto *todos = new TRadioButton(QStringLiteral("Todos"), &window);
        auto *lista = new TRadioButton(QStringLiteral("Lista"), &window);
        lista->move(0, 24);
        auto *button = new TBtnPesquisa(&window);
        button->move(60, 24);
        button->SetAssociate(lista);
        int clicks = 0;
        button->OnClick = [&](QObject *) { ++clicks; };
        lista->SetChecked(true);
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        lista->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget *>(lista));
        QTest::keyClick(lista, Qt::Key_Down, Qt::AltModifier);
        QTest::keyClick(lista, Qt::Key_F4);
        QCOMPARE(clicks, 2);
        QVERIFY(lista->Checked());
        QVERIFY(!todos->Checked());
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(lista));
    }

    void listPickerMarksAndQuotes()
    {
        People p;
        p.ds.SetRecNo(2);
        QString result = QStringLiteral("'B','O''Brien'");
        QStringList premarked;
        QString title;
        whenModal([&](QWidget *dialog) {
            title = dialog->windowTitle();
            premarked = markedCodes(dialog);
            QTableView *view = listOf(dialog);
            view->setFocus();
            view->setCurrentIndex(view->model()->index(0, 1));
            QTest::keyClick(view, Qt::Key_Space);         // marks A
            view->setCurrentIndex(view->model()->index(1, 1));
            QTest::keyClick(view, Qt::Key_Space);         // unmarks B
            QTest::keyClick(view, Qt::Key_Return);
        });
        PesquisaLista(&p.src, QStringLiteral("CODE"), QStringLiteral("Operadores|Operador não cadastrado"), false, result);
        QCOMPARE(title, QStringLiteral("Operadores"));
        QCOMPARE(premarked, QStringList({"B", "O'Brien"}));
        QCOMPARE(result, QStringLiteral("'A','O''Brien'"));
        QCOMPARE(p.ds.RecNo(), 2); // the cursor never moves

        // Clicking the mark column toggles too; none marked gives the empty list.
        whenModal([](QWidget *dialog) {
            QTableView *view = listOf(dialog);
            for (int row : {0, 3}) {
                const QRect r = view->visualRect(view->model()->index(row, 0));
                QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, r.center());
            }
            QCOMPARE(markedCodes(dialog), QStringList());
            QTest::keyClick(searchOf(dialog), Qt::Key_Return);
        });
        PesquisaLista(&p.src, QStringLiteral("CODE"), QStringLiteral("Operadores|x"), false, result);
        QCOMPARE(result, QString());
    }

    void listPickerCancelAndEmpty()
    {
        PresenterRecorder errors;
        People p;
        QString result = QStringLiteral("'C'");
        whenModal([](QWidget *dialog) {
            QTest::keyClick(listOf(dialog), Qt::Key_Space);
            QTest::keyClick(searchOf(dialog), Qt::Key_Escape);
        });
        PesquisaLista(&p.src, QStringLiteral("CODE"), QStringLiteral("Operadores|x"), false, result);
        QCOMPARE(result, QStringLiteral("'C'"));

        p.ds.Close();
        PesquisaLista(&p.src, QStringLiteral("CODE"), QStringLiteral("Operadores|Operador não cadastrado"), false, result);
        QCOMPARE(errors.shown, QStringList({"Operador não cadastrado"}));
        QCOMPARE(result, QStringLiteral("'C'"));
    }

    void listForm()
    {
        QCOMPARE(listFormFromKeys({"A", "O'Brien", ""}), QStringLiteral("'A','O''Brien',''"));
        QCOMPARE(keysFromListForm(QStringLiteral("'A', 'O''Brien',''")), QStringList({"A", "O'Brien", ""}));
        QCOMPARE(keysFromListForm(QString()), QStringList());
    }

    void busyWindowNestsAndAnimates()
    {
        QWidget form;
        form.resize(400, 300);
        form.show();
        ActiveShowAvi(&form, 6);
        DeactiveShowAvi();
        QCOMPARE(ShowAviDepth(), 0);
        QVERIFY(!ShowAviWindow()); // a short call shows nothing

        ActiveShowAvi(&form, 6);
        ActiveShowAvi(&form, 1, QStringLiteral("Aprovando atividades..."));
        QCOMPARE(ShowAviDepth(), 2);
        QTRY_VERIFY(ShowAviWindow() && ShowAviWindow()->isVisible());
        QWidget *window = ShowAviWindow();
        QVERIFY(window->findChild<QLabel *>()->text() == QStringLiteral("Aprovando atividades..."));

        // It keeps turning under a local loop that excludes user input.
        int paints = 0;
        QWidget *spinner = nullptr;
        for (QWidget *child : window->findChildren<QWidget *>())
            if (!qobject_cast<QLabel *>(child))
                spinner = child;
        QVERIFY(spinner);
        struct PaintCounter : QObject
        {
            int *count;
            explicit PaintCounter(int *c) : count(c) {}
            bool eventFilter(QObject *, QEvent *e) override
            {
                if (e->type() == QEvent::Paint)
                    ++*count;
                return false;
            }
        } counter(&paints);
        spinner->installEventFilter(&counter);
        QEventLoop loop;
        QTimer::singleShot(500, &loop, &QEventLoop::quit);
        loop.exec(QEventLoop::ExcludeUserInputEvents);
        QVERIFY2(paints >= 3, qPrintable(QString::number(paints)));
        spinner->removeEventFilter(&counter);

        DeactiveShowAvi();
        QVERIFY(ShowAviWindow() && ShowAviWindow()->isVisible());
        DeactiveShowAvi();
        QCOMPARE(ShowAviDepth(), 0);
        QVERIFY(!ShowAviWindow());
        DeactiveShowAvi(); // unmatched: harmless
        QCOMPARE(ShowAviDepth(), 0);
    }

    // A failure reported while a show is open: the message is not covered by
    // the busy window, and a clean-up right after it shows no window at all.
    void busyWindowStepsAsideForAMessage()
    {
        QWidget form;
        form.resize(400, 300);
        form.show();
        const ErrorPresenter saved = errorPresenter();
        app()->installMessageBoxPresenter();
        auto busyVisible = [] { return ShowAviWindow() && ShowAviWindow()->isVisible(); };

        // The window is up when the message comes; it comes back afterwards.
        ActiveShowAvi(&form, 6);
        QTRY_VERIFY(busyVisible());
        bool coveredDuringMessage = true;
        whenModal([&](QWidget *box) {
            QTest::qWait(400); // longer than the appearance delay
            coveredDuringMessage = busyVisible();
            qobject_cast<QDialog *>(box)->accept();
        });
        errorPresenter()(QStringLiteral("Servidor fora do ar"));
        QVERIFY(!coveredDuringMessage);
        QTRY_VERIFY(busyVisible());
        DeactiveShowAvi();
        QVERIFY(!busyVisible());

        // A call failing before the window appeared: the delay runs out while
        // the message is up, and the clean-up follows at once.
        ActiveShowAvi(&form, 6);
        bool appearedDuringMessage = true;
        whenModal([&](QWidget *box) {
            QTest::qWait(400);
            appearedDuringMessage = busyVisible();
            qobject_cast<QDialog *>(box)->accept();
        });
        errorPresenter()(QStringLiteral("Servidor fora do ar"));
        DeactiveShowAvi();
        QVERIFY(!appearedDuringMessage);
        QTest::qWait(300);
        QVERIFY(!busyVisible());
        QCOMPARE(ShowAviDepth(), 0);
        setErrorPresenter(saved);
    }
};

QTEST_MAIN(TstPickers)
#include "tst_ui_pickers.moc"
