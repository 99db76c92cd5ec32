// Controls through the real widgets: focus enter/exit of panels and edits,
// change and key events, choice buttons, and the guard around handlers.
#include "TestData.h"

#include "ButtonFlat.h"
#include "CheckBox.h"
#include "Edit.h"
#include "Errors.h"
#include "MenuItem.h"
#include "Panel.h"
#include "RadioButton.h"
#include "ScopeGuard.h"
#include "ShowAvi.h"

#include <QApplication>
#include <QVBoxLayout>
#include <QtTest>

namespace {

// out1, then panel {e1, e2}, then out2, in tab order; every enter/exit logged.
struct FocusFixture
{
    QWidget window;
    TEdit *out1, *e1, *e2, *out2;
    TPanel *pan;
    QStringList log;

    FocusFixture()
    {
        auto *layout = new QVBoxLayout(&window);
        out1 = new TEdit(&window);
        pan = new TPanel(&window);
        auto *inner = new QVBoxLayout(pan);
        e1 = new TEdit(pan);
        e2 = new TEdit(pan);
        inner->addWidget(e1);
        inner->addWidget(e2);
        out2 = new TEdit(&window);
        layout->addWidget(out1);
        layout->addWidget(pan);
        layout->addWidget(out2);
        watch(out1, "out1");
        watch(e1, "e1");
        watch(e2, "e2");
        watch(out2, "out2");
        watch(pan, "pan");
        out1->setFocus();
        window.show();
        QApplication::setActiveWindow(&window);
    }
    void watch(FocusEvents *w, const char *name)
    {
        const QString n = QString::fromLatin1(name);
        w->OnEnter = [this, n](QObject *) { log << n + QStringLiteral(" enter"); };
        w->OnExit = [this, n](QObject *) { log << n + QStringLiteral(" exit"); };
    }
    void tab() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }
};

} // namespace

class TstControls : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void panelEnterExitByTab()
    {
        FocusFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QTRY_VERIFY(f.out1->hasFocus());
        f.log.clear();
        f.tab();
        QVERIFY(f.e1->hasFocus());
        QCOMPARE(f.log, QStringList({"out1 exit", "pan enter", "e1 enter"}));
        f.log.clear();
        f.tab();
        QCOMPARE(f.log, QStringList({"e1 exit", "e2 enter"}));
        f.log.clear();
        f.tab();
        QVERIFY(f.out2->hasFocus());
        QCOMPARE(f.log, QStringList({"e2 exit", "pan exit", "out2 enter"}));
        f.log.clear();
        QTest::keyClick(f.out2, Qt::Key_Backtab, Qt::ShiftModifier);
        QVERIFY(f.e2->hasFocus());
        QCOMPARE(f.log, QStringList({"out2 exit", "pan enter", "e2 enter"}));
    }

    void panelEnterExitByClick()
    {
        FocusFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        f.log.clear();
        QTest::mouseClick(f.e2, Qt::LeftButton);
        QVERIFY(f.e2->hasFocus());
        QCOMPARE(f.log, QStringList({"out1 exit", "pan enter", "e2 enter"}));
        f.log.clear();
        QTest::mouseClick(f.out1, Qt::LeftButton);
        QCOMPARE(f.log, QStringList({"e2 exit", "pan exit", "out1 enter"}));
    }

    void refusedPanelExitGoesWhereCleanupPutFocus()
    {
        PresenterRecorder errors;
        FocusFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QTest::mouseClick(f.e1, Qt::LeftButton);
        bool refuse = true;
        f.pan->OnExit = [&](QObject *) {
            f.log << "pan exit";
            if (!refuse)
                return;
            f.e2->SetFocus(); // clean-up: the control at fault
            MensErro(QStringLiteral("Projeto deve ser informado"), true);
        };
        f.log.clear();
        QTest::mouseClick(f.out2, Qt::LeftButton);
        QVERIFY(f.e2->hasFocus());
        QCOMPARE(errors.shown, QStringList({"Projeto deve ser informado"}));
        // The return into the panel fires no enter handler at all.
        QCOMPARE(f.log, QStringList({"e1 exit", "pan exit"}));

        // Later moves start from where the focus really is.
        refuse = false;
        f.log.clear();
        f.tab();
        QVERIFY(f.out2->hasFocus());
        QCOMPARE(f.log, QStringList({"e2 exit", "pan exit", "out2 enter"}));
    }

    void refusedExitWithoutCleanupReturnsToControlLeft()
    {
        PresenterRecorder errors;
        FocusFixture f;
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        f.out1->OnExit = [&](QObject *) {
            f.log << "out1 exit";
            throw EVorError(QStringLiteral("Filial não cadastrada"));
        };
        f.log.clear();
        f.tab();
        QVERIFY(f.out1->hasFocus());
        QCOMPARE(f.log, QStringList({"out1 exit"}));
        QCOMPARE(errors.shown, QStringList({"Filial não cadastrada"}));
    }

    void refusedClickDoesNotActOnControlClicked()
    {
        PresenterRecorder errors;
        FocusFixture f;
        auto *box = new TCheckBox(QStringLiteral("Todas"), &f.window);
        f.window.layout()->addWidget(box);
        f.window.layout()->activate();
        QTRY_VERIFY(box->isVisible() && box->height() > 0);
        int clicks = 0;
        box->OnClick = [&](QObject *) { ++clicks; };
        QVERIFY(QTest::qWaitForWindowActive(&f.window));
        QTest::mouseClick(f.e1, Qt::LeftButton);
        f.pan->OnExit = [](QObject *) { throw EVorError(QStringLiteral("recusado")); };
        const QPoint onIndicator(8, box->height() / 2);
        QTest::mouseClick(box, Qt::LeftButton, {}, onIndicator);
        QVERIFY(f.e1->hasFocus());
        QVERIFY(!box->Checked());
        QCOMPARE(clicks, 0);
        f.pan->OnExit = nullptr;
        QTest::mouseClick(box, Qt::LeftButton, {}, onIndicator);
        QVERIFY(box->Checked());
        QCOMPARE(clicks, 1);
        QCOMPARE(errors.shown, QStringList({"recusado"}));

        // The refusal's message box takes the release of the refused click:
        // the next click must still act in full.
        f.pan->OnExit = nullptr;
        QTest::mouseClick(f.e1, Qt::LeftButton);
        f.pan->OnExit = [](QObject *) { throw EVorError(QStringLiteral("recusado")); };
        QTest::mousePress(box, Qt::LeftButton, {}, onIndicator);
        QVERIFY(f.e1->hasFocus());
        f.pan->OnExit = nullptr;
        QTest::mouseClick(box, Qt::LeftButton, {}, onIndicator);
        QVERIFY(!box->Checked());
        QCOMPARE(clicks, 2);
    }

    void changeOnlyOnRealChange()
    {
        TEdit edit;
        int changes = 0;
        edit.OnChange = [&](QObject *sender) {
            QCOMPARE(sender, &edit);
            ++changes;
        };
        edit.SetText(QStringLiteral("ab"));
        QCOMPARE(changes, 1);
        edit.SetText(QStringLiteral("ab"));
        QCOMPARE(changes, 1);
        QTest::keyClicks(&edit, QStringLiteral("c"));
        QCOMPARE(edit.Text(), QStringLiteral("abc"));
        QCOMPARE(changes, 2);
        edit.SetText(QStringLiteral("abc"));
        QCOMPARE(changes, 2);
        edit.SetText(QString());
        QCOMPARE(changes, 3);
    }

    void keyPressReplacesAndRefuses()
    {
        PresenterRecorder errors;
        TEdit edit;
        edit.SetMaxLength(4);
        QString seen;
        edit.OnKeyPress = [&](QObject *, QChar &key) {
            seen.append(key);
            if (key == QLatin1Char('-'))
                key = QChar();            // refused
            else if (key == QLatin1Char('!'))
                throw EVorError(QStringLiteral("bad key"));
            else
                key = key.toUpper();      // replaced
        };
        QTest::keyClicks(&edit, QStringLiteral("a-b!c"));
        QCOMPARE(edit.Text(), QStringLiteral("ABC"));
        QCOMPARE(seen, QStringLiteral("a-b!c"));
        QCOMPARE(errors.shown, QStringList({"bad key"}));
        QTest::keyClicks(&edit, QStringLiteral("de"));
        QCOMPARE(edit.Text(), QStringLiteral("ABCD")); // max length still holds

        seen.clear();
        QTest::keyClick(&edit, Qt::Key_Backspace);
        QCOMPARE(seen, QString(QChar(8)));
        QCOMPARE(edit.Text(), QStringLiteral("ABC"));

        int keyDowns = 0;
        edit.OnKeyDown = [&](QObject *, int &key, Qt::KeyboardModifiers) {
            ++keyDowns;
            if (key == Vk::Delete)
                key = 0;
        };
        edit.setCursorPosition(0);
        QTest::keyClick(&edit, Qt::Key_Delete);
        QCOMPARE(edit.Text(), QStringLiteral("ABC"));
        QCOMPARE(keyDowns, 1);
    }

    void checkBoxClickOnEveryChange()
    {
        TCheckBox box(QStringLiteral("Todas"));
        int clicks = 0;
        box.OnClick = [&](QObject *) { ++clicks; };
        box.SetChecked(true);
        QCOMPARE(clicks, 1);
        box.SetChecked(true);
        QCOMPARE(clicks, 1);
        box.show();
        QTest::mouseClick(&box, Qt::LeftButton);
        QVERIFY(!box.Checked());
        QCOMPARE(clicks, 2);
        box.SetChecked(false);
        QCOMPARE(clicks, 2);
    }

    void radioClickWhenBecomingChecked()
    {
        QWidget group;
        auto *todos = new TRadioButton(QStringLiteral("Todos"), &group);
        auto *lista = new TRadioButton(QStringLiteral("Lista"), &group);
        lista->move(0, 30);
        todos->SetChecked(true);
        int todosClicks = 0, listaClicks = 0;
        todos->OnClick = [&](QObject *) { ++todosClicks; };
        lista->OnClick = [&](QObject *) { ++listaClicks; };
        lista->SetChecked(true);
        QCOMPARE(listaClicks, 1);
        QCOMPARE(todosClicks, 0);  // unchecked by its sibling: no click
        QVERIFY(!todos->Checked());
        lista->SetChecked(true);
        QCOMPARE(listaClicks, 1);
        group.show();
        QTest::mouseClick(todos, Qt::LeftButton);
        QCOMPARE(todosClicks, 1);
        QCOMPARE(listaClicks, 1);
        QTest::mouseClick(todos, Qt::LeftButton); // already checked
        QCOMPARE(todosClicks, 1);
    }

    void guardTurnsEscapingExceptionIntoOneMessage()
    {
        PresenterRecorder errors;
        TButtonFlat button;
        button.show();
        int step = 0;
        button.OnClick = [&](QObject *) {
            ++step;
            if (step == 1)
                throw EVorError(QStringLiteral("Falhou"));
            if (step == 2)
                MensErro(QStringLiteral("Mostrada uma vez"), true);
            if (step == 3)
                throw EAbort();
            throw std::runtime_error("runtime");
        };
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(errors.shown, QStringList({"Falhou"}));
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(errors.shown, QStringList({"Falhou", "Mostrada uma vez"}));
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(errors.shown.size(), 2); // a silent abort shows nothing
        QTest::mouseClick(&button, Qt::LeftButton);
        QCOMPARE(errors.shown.last(), QStringLiteral("runtime"));

        button.SetEnabled(false);
        button.Click();
        QCOMPARE(step, 4);
    }

    void keyCodesAndStoredShortcuts()
    {
        QCOMPARE(vkFromQtKey(Qt::Key_Insert), 45);
        QCOMPARE(vkFromQtKey(Qt::Key_Delete), 46);
        QCOMPARE(vkFromQtKey(Qt::Key_Space), 32);
        QCOMPARE(vkFromQtKey(Qt::Key_A), 65);
        QCOMPARE(vkFromQtKey(Qt::Key_F1), 112);
        QCOMPARE(qtKeyFromVk(46), int(Qt::Key_Delete));
        QCOMPARE(ShortCutFromInt(16460), QKeySequence(Qt::CTRL | Qt::Key_L));
        QCOMPARE(ShortCutFromInt(16464), QKeySequence(Qt::CTRL | Qt::Key_P));
    }

    void punctuationNeverPassesForNavigationKeys()
    {
        // Typed punctuation comes as the code of its key, so a handler that
        // swallows Insert (45) or Delete (46) never swallows "-" or ".".
        QCOMPARE(vkFromQtKey(Qt::Key_Minus), int(Vk::OemMinus));
        QCOMPARE(vkFromQtKey(Qt::Key_Period), int(Vk::OemPeriod));
        QCOMPARE(vkFromQtKey(Qt::Key_Comma), int(Vk::OemComma));
        QCOMPARE(vkFromQtKey(Qt::Key_Underscore), 189);
        QCOMPARE(vkFromQtKey(Qt::Key_Percent), int('5'));
        QCOMPARE(vkFromQtKey(Qt::Key_Minus, Qt::KeypadModifier), 109);
        QCOMPARE(vkFromQtKey(Qt::Key_Period, Qt::KeypadModifier), 110);
        QCOMPARE(vkFromQtKey(Qt::Key_5, Qt::KeypadModifier), 101);
        QCOMPARE(qtKeyFromVk(189), int(Qt::Key_Minus));
        for (int qtKey = 0x20; qtKey <= 0xFF; ++qtKey) {
            const int vk = vkFromQtKey(qtKey);
            // Only the arrows and paging keys have their codes in 33..40.
            QVERIFY2(vk != Vk::Insert && vk != Vk::Delete && (vk < Vk::Prior || vk > Vk::Down),
                     qPrintable(QStringLiteral("Qt key 0x%1 -> %2").arg(qtKey, 0, 16).arg(vk)));
            QVERIFY2(vkFromQtKey(qtKey, Qt::KeypadModifier) != Vk::Insert
                         && vkFromQtKey(qtKey, Qt::KeypadModifier) != Vk::Delete,
                     qPrintable(QString::number(qtKey, 16)));
        }

        // Through a real key event: the handler sees the key's code and the character.
        TEdit edit;
        QList<int> codes;
        QString typed;
        edit.OnKeyDown = [&](QObject *, int &key, Qt::KeyboardModifiers) {
            codes << key;
            if (key == Vk::Insert || key == Vk::Delete)
                key = 0;
        };
        edit.OnKeyPress = [&](QObject *, QChar &key) { typed += key; };
        edit.show();
        QTest::keyClicks(&edit, QStringLiteral("-1.5"));
        QCOMPARE(codes, QList<int>({189, '1', 190, '5'}));
        QCOMPARE(typed, QStringLiteral("-1.5"));
        QCOMPARE(edit.text(), QStringLiteral("-1.5"));
    }

    void scopeGuardsUndoOnEveryWayOut()
    {
        PresenterRecorder errors;
        SetShowAviDelay(600000);
        QStringList log;
        auto work = [&](bool fail) {
            auto undo = onScopeExit([&] { log << QStringLiteral("undone"); });
            ShowAviScope busy(nullptr, 6);
            QCOMPARE(ShowAviDepth(), 1);
            if (fail)
                throw EVorError(QStringLiteral("falhou"));
        };
        work(false);
        QVERIFY_THROWS_EXCEPTION(EVorError, work(true));
        QCOMPARE(log, QStringList({"undone", "undone"}));
        QCOMPARE(ShowAviDepth(), 0);

        // Dismissed: kept. An undo that raises while another failure is on its
        // way out is reported, not fatal.
        {
            auto undo = onScopeExit([&] { log << QStringLiteral("not wanted"); });
            undo.dismiss();
        }
        QCOMPARE(log.size(), 2);
        try {
            auto undo = onScopeExit([] { throw EVorError(QStringLiteral("desfazer falhou")); });
            throw EAbort();
        } catch (const EAbort &) {
        }
        QCOMPARE(errors.shown, QStringList({"desfazer falhou"}));
    }
};

QTEST_MAIN(TstControls)
#include "tst_ui_controls.moc"
