// Application object, forms in the MDI area, the base screens and shortcuts.
#include "TestData.h"

#include "Application.h"
#include "CheckBox.h"
#include "DBGrid.h"
#include "Edit.h"
#include "Errors.h"
#include "FrmFiltroPadrao.h"
#include "FrmPadraoGrid.h"
#include "GroupBox.h"
#include "MenuItem.h"
#include "PageControl.h"
#include "Panel.h"
#include "RadioButton.h"
#include "SpeedButton.h"

#include <QApplication>
#include <QMainWindow>
#include <QMdiArea>
#include <QMenu>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QtTest>

namespace {

class TfrmScreen : public TfrmPadraoGrid
{
public:
    TfrmScreen()
    {
        cds = new TClientDataSet(this);
        fillPeople(*cds, {{"A", "Ana"}, {"B", "Bruno"}});
        mnuFiltrar = new TMenuItem(QStringLiteral("&Filtrar"), this);
        mnuFiltrar->SetShortCut(16460);
        addMenuItem(mnuManutencao, mnuFiltrar);
        mnuFiltrar->OnClick = [this](QObject *) { ++filters; };
        // Added straight to the menu: the form still scopes its shortcut.
        mnuConcluir = new TMenuItem(QStringLiteral("Ap&rovar"), this);
        mnuConcluir->SetShortCut(16464);
        mnuManutencao->addAction(mnuConcluir);
        mnuConcluir->OnClick = [this](QObject *) { ++approvals; };
    }
    TMenuItem *mnuConcluir = nullptr;
    int approvals = 0;
    TClientDataSet *cds = nullptr;
    TMenuItem *mnuFiltrar = nullptr;
    QStringList log;
    int filters = 0;
    TCloseAction closeAction = caHide;

    void FormCreate(QObject *sender) override
    {
        TfrmPadraoGrid::FormCreate(sender);
        log << QStringLiteral("create %1").arg(cds->RecordCount()); // the derived object is complete
        dtsPadrao->SetDataSet(cds);
    }
    void FormClose(QObject *sender, TCloseAction &action) override
    {
        TfrmPadraoGrid::FormClose(sender, action);
        log << QStringLiteral("close");
        action = closeAction;
    }
    void FormActivate(QObject *) override { log << QStringLiteral("activate"); }
    void dtsPadraoStateChange(QObject *sender) override
    {
        TfrmPadraoGrid::dtsPadraoStateChange(sender);
        log << QStringLiteral("state %1").arg(int(dtsPadrao->state()));
    }
    void sbtVerificarClick(QObject *) override { log << QStringLiteral("verify"); }
};

class TfrmFailing : public TForm
{
public:
    void FormCreate(QObject *) override { throw EVorError(QStringLiteral("sem conexão")); }
};

// Three boxes that keep each other consistent from their click handlers: "all"
// stands for both others, which are never ticked together.
class TfrmFiltroCascata : public TfrmFiltroPadrao
{
public:
    TfrmFiltroCascata()
    {
        setObjectName(QStringLiteral("frmFiltroCascata"));
        todas = new TCheckBox(QStringLiteral("Todas"), grbFiltroPadrao);
        todas->setObjectName(QStringLiteral("ckbTodas"));
        aberto = new TCheckBox(QStringLiteral("Em Aberto"), grbFiltroPadrao);
        aberto->setObjectName(QStringLiteral("ckbAberto"));
        concluida = new TCheckBox(QStringLiteral("Concluída"), grbFiltroPadrao);
        concluida->setObjectName(QStringLiteral("ckbConcluida"));
        todas->OnClick = [this](QObject *) {
            if (todas->Checked()) {
                aberto->SetChecked(false);
                concluida->SetChecked(false);
            }
        };
        auto parte = [this](TCheckBox *box) {
            if (todas->Checked() && box->Checked())
                todas->SetChecked(false);
            if (aberto->Checked() && concluida->Checked()) {
                todas->SetChecked(true);
                aberto->SetChecked(false);
                concluida->SetChecked(false);
            }
        };
        aberto->OnClick = [this, parte](QObject *) { parte(aberto); };
        concluida->OnClick = [this, parte](QObject *) { parte(concluida); };
    }
    // Straight to a state, the handlers held (a test's start state).
    void poe(const QString &state)
    {
        const QSignalBlocker a(todas), b(aberto), c(concluida);
        todas->setChecked(state.at(0) == QLatin1Char('1'));
        aberto->setChecked(state.at(1) == QLatin1Char('1'));
        concluida->setChecked(state.at(2) == QLatin1Char('1'));
    }
    QString estado() const
    {
        return QString::number(todas->Checked()) + QString::number(aberto->Checked())
               + QString::number(concluida->Checked());
    }
    TCheckBox *todas, *aberto, *concluida;
};

class TfrmFiltro : public TfrmFiltroPadrao
{
public:
    TfrmFiltro()
    {
        setObjectName(QStringLiteral("frmFiltroTeste"));
        rbtTodos = new TRadioButton(QStringLiteral("Todos"), grbFiltroPadrao);
        rbtTodos->setObjectName(QStringLiteral("rbtTodos"));
        rbtLista = new TRadioButton(QStringLiteral("Lista"), grbFiltroPadrao);
        rbtLista->setObjectName(QStringLiteral("rbtLista"));
        rbtLista->move(0, 30);
        ckbAberto = new TCheckBox(QStringLiteral("Em Aberto"), grbFiltroPadrao);
        ckbAberto->setObjectName(QStringLiteral("ckbAberto"));
        ckbAberto->move(0, 60);
        rbtTodos->SetChecked(true);
        rbtLista->OnClick = [this](QObject *) { log << QStringLiteral("lista"); };
    }
    TRadioButton *rbtTodos, *rbtLista;
    TCheckBox *ckbAberto;
    QStringList log;
    void sbtConfirmaClick(QObject *) override
    {
        log << QStringLiteral("confirm");
        SetModalResult(mrOk);
    }
    void FormClose(QObject *, TCloseAction &action) override
    {
        log << QStringLiteral("close");
        action = caHide;
    }
};

// Two edits; activation puts the focus in the first, as a screen does while
// nothing is loaded.
class TfrmHeader : public TForm
{
public:
    TfrmHeader()
    {
        SetFormStyle(fsMDIChild);
        auto *layout = new QVBoxLayout(this);
        first = new TEdit(this);
        second = new TEdit(this);
        layout->addWidget(first);
        layout->addWidget(second);
    }
    TEdit *first, *second;
    void FormActivate(QObject *) override { first->SetFocus(); }
};

struct Host
{
    QMainWindow main;
    QMdiArea *area = new QMdiArea;
    Host()
    {
        main.setCentralWidget(area);
        main.resize(900, 700);
        app()->SetMainForm(&main);
        main.show();
        QApplication::setActiveWindow(&main);
    }
    ~Host() { app()->SetMainForm(nullptr); }
};

} // namespace

class TstForms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void factoryRunsFormCreateOnce()
    {
        PresenterRecorder errors;
        Host host; // the first use of app(): a recorder set before stays
        MensErro(QStringLiteral("visto"), false);
        QCOMPARE(errors.shown, QStringList({"visto"}));
        auto *form = app()->CreateForm<TfrmScreen>();
        // Binding the data source runs the (overridden) state handler.
        QCOMPARE(form->log, QStringList({"create 2", "state 1"}));
        QVERIFY(std::find(app()->Forms().begin(), app()->Forms().end(), QPointer<TForm>(form)) != app()->Forms().end());
        form->runFormCreate();
        QCOMPARE(form->log.count(QStringLiteral("create 2")), 1);

        const size_t before = app()->Forms().size();
        bool raised = false;
        try {
            app()->CreateForm<TfrmFailing>();
        } catch (const EVorError &e) {
            raised = e.message() == QStringLiteral("sem conexão");
        }
        QVERIFY(raised);
        QCOMPARE(app()->Forms().size(), before);
        delete form;
    }

    void mdiChildShowCloseReuse()
    {
        Host host;
        QPointer<TfrmScreen> form = app()->CreateForm<TfrmScreen>();
        form->log.clear();
        form->Show();
        QVERIFY(form->SubWindow());
        QCOMPARE(host.area->subWindowList().size(), 1);
        QVERIFY(form->Visible());
        QTRY_VERIFY(form->log.contains(QStringLiteral("activate")));
        QMdiSubWindow *sub = form->SubWindow();

        form->Close();
        QVERIFY(!form->Visible());
        QVERIFY(form->log.contains(QStringLiteral("close")));
        form->Show();
        QCOMPARE(form->SubWindow(), sub);
        QCOMPARE(host.area->subWindowList().size(), 1);
        QVERIFY(form->Visible());

        form->SetWindowState(wsMaximized);
        QCOMPARE(form->WindowState(), wsMaximized);
        form->SetWindowState(wsNormal);
        QCOMPARE(form->WindowState(), wsNormal);

        // The sub-window's close box runs the same close.
        form->log.clear();
        sub->close();
        QCOMPARE(form->log, QStringList({"close"}));
        QVERIFY(!form->Visible());
        QVERIFY(form);

        form->closeAction = caFree;
        form->Show();
        form->Close();
        QTRY_VERIFY(!form);
        QTRY_COMPARE(host.area->subWindowList().size(), 0);
    }

    // Closing hands the focus on inside the hidden window; showing it again
    // must end with the focus where the activation handler put it.
    void reopenedChildTakesActivationFocus()
    {
        Host host;
        auto *form = app()->CreateForm<TfrmHeader>();
        form->Show();
        QTRY_VERIFY(form->first->hasFocus());
        form->Close();
        QVERIFY(!form->Visible());
        form->Show();
        QTest::qWait(50);
        QTRY_VERIFY(form->first->hasFocus());
        // Also when the user had moved on before closing.
        form->second->SetFocus();
        QTRY_VERIFY(form->second->hasFocus());
        form->Close();
        form->Show();
        QTest::qWait(50);
        QTRY_VERIFY(form->first->hasFocus());
        delete form;
    }

    void screenCursor()
    {
        app()->setScreenCursor(crHourGlass);
        QVERIFY(QApplication::overrideCursor());
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        app()->setScreenCursor(crHourGlass);
        app()->setScreenCursor(crDefault);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(app()->screenCursor(), 0);
    }

    void baseScreenCommandsAndHandlers()
    {
        Host host;
        auto *form = app()->CreateForm<TfrmScreen>();
        form->Show();
        QVERIFY(QTest::qWaitForWindowExposed(&host.main));
        QVERIFY(form->sbtAlterar->Enabled());
        QVERIFY(form->mnuAlterar->Enabled());
        QVERIFY(!form->sbtConfirmar->Enabled());
        QCOMPARE(form->dbgPadrao->DataSet(), form->cds);

        form->log.clear();
        QTest::mouseClick(form->sbtAlterar, Qt::LeftButton);
        QCOMPARE(form->cds->state(), TClientDataSet::State::Edit);
        QCOMPARE(form->log, QStringList({"state 2"}));
        QVERIFY(form->sbtConfirmar->Enabled());
        QVERIFY(form->mnuConfirmar->Enabled());
        QVERIFY(!form->mnuAlterar->Enabled());
        form->mnuCancelar->trigger();
        QCOMPARE(form->cds->state(), TClientDataSet::State::Browse);

        form->mnuVerificar->trigger();
        QTest::mouseClick(form->sbtVerificar, Qt::LeftButton);
        QCOMPARE(form->log.count(QStringLiteral("verify")), 2);

        auto *header = new TPanel;
        header->setFixedHeight(40);
        form->insertHeader(header);
        QTRY_VERIFY(header->isVisible());
        QTRY_VERIFY(header->y() >= form->panMenu->y() + form->panMenu->height());
        QVERIFY(header->y() + header->height() <= form->pgcPadrao->y());
        delete form;
    }

    void shortcutsReachActiveChildOnly()
    {
        Host host;
        auto *one = app()->CreateForm<TfrmScreen>();
        auto *two = app()->CreateForm<TfrmScreen>();
        one->Show();
        two->Show();
        QVERIFY(QTest::qWaitForWindowActive(&host.main));
        host.area->setActiveSubWindow(one->SubWindow());
        one->dbgPadrao->setFocus();
        QTRY_VERIFY(one->dbgPadrao->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(one->filters, 1);
        QCOMPARE(two->filters, 0);
        host.area->setActiveSubWindow(two->SubWindow());
        two->dbgPadrao->setFocus();
        QTRY_VERIFY(two->dbgPadrao->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(one->filters, 1);
        QCOMPARE(two->filters, 1);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(one->approvals, 0);
        QCOMPARE(two->approvals, 1);
        two->mnuFiltrar->SetEnabled(false);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(two->filters, 1);
        delete one;
        delete two;
    }

    void filterDialogOptionsAndModal()
    {
        QTemporaryDir dir;
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        QCoreApplication::setOrganizationName(QStringLiteral("vortest"));
        auto *dialog = app()->CreateForm<TfrmFiltro>();
        dialog->rbtLista->SetChecked(true);
        dialog->ckbAberto->SetChecked(true);
        dialog->btfSaveOpcClick(dialog);
        dialog->rbtTodos->SetChecked(true);
        dialog->ckbAberto->SetChecked(false);
        dialog->log.clear();
        dialog->btfLoadOpcClick(dialog);
        QVERIFY(dialog->rbtLista->Checked());
        QVERIFY(dialog->ckbAberto->Checked());
        QCOMPARE(dialog->log, QStringList({"lista"})); // loading runs the click handlers
        QCOMPARE(dialog->cdsCarregaOpcoes->RecordCount(), 3);

        // Escape cancels: FormClose runs and the dialog hides.
        dialog->log.clear();
        QTimer::singleShot(0, dialog, [dialog] { QTest::keyClick(dialog, Qt::Key_Escape); });
        QCOMPARE(dialog->ShowModal(), int(mrCancel));
        QCOMPARE(dialog->log, QStringList({"close"}));
        QVERIFY(!dialog->Visible());

        dialog->log.clear();
        QTimer::singleShot(0, dialog, [dialog] { QTest::mouseClick(dialog->sbtConfirma, Qt::LeftButton); });
        QCOMPARE(dialog->ShowModal(), int(mrOk));
        QCOMPARE(dialog->log, QStringList({"confirm", "close"}));

        // Closing the hidden dialog from code still runs FormClose.
        dialog->log.clear();
        dialog->Close();
        QCOMPARE(dialog->log, QStringList({"close"}));
        delete dialog;
    }

    // Loading saved options gives back exactly what was saved, whatever state
    // the dialog was in, although the boxes' handlers keep them consistent.
    void filterDialogOptionsRestoredExactly()
    {
        QTemporaryDir dir;
        QSettings::setDefaultFormat(QSettings::IniFormat);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
        QCoreApplication::setOrganizationName(QStringLiteral("vortest"));
        auto *dialog = app()->CreateForm<TfrmFiltroCascata>();
        const QStringList saved = {QStringLiteral("010"), QStringLiteral("001"), QStringLiteral("100"),
                                   QStringLiteral("000")};
        const QStringList before = {QStringLiteral("100"), QStringLiteral("010"), QStringLiteral("001"),
                                    QStringLiteral("000")};
        for (const QString &save : saved) {
            dialog->poe(save);
            dialog->btfSaveOpcClick(dialog);
            for (const QString &from : before) {
                dialog->poe(from);
                dialog->btfLoadOpcClick(dialog);
                QVERIFY2(dialog->estado() == save, qPrintable(save + QStringLiteral(" from ") + from
                                                              + QStringLiteral(" -> ") + dialog->estado()));
            }
        }
        delete dialog;
    }

    // The start with huge pages for the heap: started again once, under its
    // own name, the heap then on huge pages, the arguments whole, the
    // environment as it was for children; a choice already made is left alone.
    void hugePageHeapRestart_data()
    {
        QTest::addColumn<QString>("given"); // GLIBC_TUNABLES at the start; "(none)": unset
        QTest::addColumn<int>("starts");
        QTest::addColumn<QString>("pages");
        QTest::newRow("unset") << "(none)" << 2 << "huge pages";
        QTest::newRow("other tunables") << "glibc.malloc.tcache_count=8" << 2 << "huge pages";
        QTest::newRow("chosen already") << "glibc.malloc.hugetlb=0" << 1 << "small pages";
    }
    void hugePageHeapRestart()
    {
        QFile modes(QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled"));
        if (!modes.open(QIODevice::ReadOnly) || modes.readAll().contains("[never]"))
            QSKIP("no transparent huge pages on this machine");
        QFETCH(QString, given);
        QFETCH(int, starts);
        QFETCH(QString, pages);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("GLIBC_TUNABLES"));
        if (given != QLatin1String("(none)"))
            env.insert(QStringLiteral("GLIBC_TUNABLES"), given);
        QProcess probe;
        probe.setProcessEnvironment(env);
        probe.start(QCoreApplication::applicationDirPath() + QStringLiteral("/heap_restart_probe"),
                    {QStringLiteral("two words"), QString(), QStringLiteral("-x")});
        QVERIFY(probe.waitForFinished(10000));
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(probe.readAllStandardError().count("started"), starts);
        const QStringList lines = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'));
        QCOMPARE(lines.mid(0, 7), QStringList({QStringLiteral("heap_restart_pr"), pages, given, QStringLiteral("no marker"), QStringLiteral("two words"),
                                               QString(), QStringLiteral("-x")}));
    }
};

QTEST_MAIN(TstForms)
#include "tst_ui_forms.moc"
