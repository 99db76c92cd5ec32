// Lookup button, multi-pick list and busy window, driven as a user would.
#include "TestData.h"

#include "Application.h"
#include "BtnPesquisa.h"
#include "Errors.h"
#include "Field.h"
#include "PesquisaLista.h"
#include "Routines.h"
#include "ShowAvi.h"

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
        int columns = 0;
        whenModal([&](QWidget *dialog) {
            title = dialog->windowTitle();
            columns = listOf(dialog)->model()->columnCount();
            QTest::keyClicks(searchOf(dialog), QStringLiteral("carl"));
            QCOMPARE(listOf(dialog)->model()->rowCount(), 1);
            QTest::keyClick(searchOf(dialog), Qt::Key_Return);
        });
        QVERIFY(button.Execute());
        QCOMPARE(title, QStringLiteral("Pessoas"));
        QCOMPARE(columns, 3); // visible fields only
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
