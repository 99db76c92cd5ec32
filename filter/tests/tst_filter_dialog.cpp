#include "ModalAnswer.h"
#include "ScreenHarness.h"

#include "Cli_VOR01300.h"
#include "Cli_VOR01301.h"
#include "VOR01300.h"

#include "Application.h"
#include "BtnPesquisa.h"
#include "ButtonFlat.h"
#include "CheckBox.h"
#include "ClientDataSet.h"
#include "DBGrid.h"
#include "Edit.h"
#include "GroupBox.h"
#include "Label.h"
#include "MenuItem.h"
#include "NetConnection.h"
#include "Panel.h"
#include "RadioButton.h"
#include "ShowAvi.h"
#include "SpeedButton.h"

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QHeaderView>
#include <QJsonArray>
#include <QLineEdit>
#include <QMenu>
#include <QSettings>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

bool isFilterDialog(QWidget *w)
{
    return qobject_cast<TfrmFiltroConcAtivProj *>(w) != nullptr;
}

bool isPicker(QWidget *w)
{
    return qobject_cast<QDialog *>(w) && w->objectName() == QLatin1String("PickListDialog");
}

// In the list picker: marks the rows found by each search text, then Enter.
void markAndConfirm(QWidget *picker, const QStringList &searches)
{
    auto *search = picker->findChild<QLineEdit *>(QStringLiteral("search"));
    auto *list = picker->findChild<QTableView *>(QStringLiteral("list"));
    for (const QString &text : searches) {
        search->clear();
        QTest::keyClicks(search, text);
        QTest::keyClick(list, Qt::Key_Space);
    }
    search->clear();
    QTest::keyClick(list, Qt::Key_Return);
}

QStringList texts(const QJsonArray &params)
{
    QStringList out;
    for (const QJsonValue &v : params)
        out << v.toString();
    return out;
}

QString boxes(const TfrmFiltroConcAtivProj *d)
{
    return QString::number(d->ckbTodas->Checked()) + QString::number(d->ckbAndamento->Checked())
           + QString::number(d->ckbConcluida->Checked());
}

void setBoxes(TfrmFiltroConcAtivProj *d, const QString &state)
{
    // Straight to the state, without the handlers' corrections (a start state
    // of the table below).
    const QSignalBlocker a(d->ckbTodas), b(d->ckbAndamento), c(d->ckbConcluida);
    d->ckbTodas->setChecked(state.at(0) == QLatin1Char('1'));
    d->ckbAndamento->setChecked(state.at(1) == QLatin1Char('1'));
    d->ckbConcluida->setChecked(state.at(2) == QLatin1Char('1'));
}

} // namespace

// The filter dialog through the real screen and the real server: its checks,
// codes, pickers and options, and the screen's loads once it exists.
class tst_filter_dialog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void beforeFirstUseTheLoadIsUnfiltered();
    void defaultsAndTheFilterCommand();
    void layoutAndStartStates();
    void refusalsInOrder();
    void situationBoxes_data();
    void situationBoxes();
    void codesSent_data();
    void codesSent();
    void pickedOperatorsWithQuotes();
    void pickedListSurvivesUntilTodosIsConfirmed();
    void pickedWorkItemWithComma();
    void failingLookupShowsNoPicker();
    void failingConfirmKeepsDialogAndList();
    void closingTurnsEmptyListsBackToTodos();
    void cancelledSettingsApplyToTheNextLoad();
    void savedOptionsComeBackExactly();

    // Keyboard only.
    void tabReachesTheCommands();
    void returnConfirmsOrPressesTheFocusedButton();
    void lookupsOpenFromTheKeyboard();

private:
    void loadProject(const QString &project = QStringLiteral("3"));
    // Ctrl+L on the screen; the action runs inside the dialog and must close it.
    void withDialog(const std::function<void(TfrmFiltroConcAtivProj *)> &action);
    void confirmDefaults(TfrmFiltroConcAtivProj *d);
    QStringList activityTasks() const;
    QList<ServerFixture::Call> callsOf(const QString &method);
    QWidget *focused() const { return QApplication::focusWidget(); }
    // A key to whatever has the focus, as the user types it.
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier);
    void tabTo(QWidget *target);
    // The screen's connection reopens on a closed port of the server's host
    // (every call fails as with a server gone), and back to the real server.
    void cutConnection();
    void restoreConnection();

    QTemporaryDir m_settingsDir;
    ScreenHarness m_host;
    TfrmConcAtivProj *s = nullptr;
};

void tst_filter_dialog::initTestCase()
{
    if (!ServerFixture::serverBuilt())
        QSKIP("the application server is not built");
    QSettings::setDefaultFormat(QSettings::IniFormat);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_settingsDir.path());
    QString error;
    QVERIFY2(m_host.setUp(&error, QStringLiteral(VOR_FILTER_FIXTURE)), qPrintable(error));
    s = m_host.openScreen();
    QVERIFY(s);
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->edtCDFILIAL));
}

void tst_filter_dialog::init()
{
    QApplication::setActiveWindow(m_host.mainWindow());
    QVERIFY(QTest::qWaitForWindowActive(m_host.mainWindow()));
    if (TfrmFiltroConcAtivProj *d = frmFiltroConcAtivProj) {
        // Every case starts from the dialog's defaults and no picked lists.
        d->rbtTodosOp->SetChecked(true);
        d->rbtTodosItem->SetChecked(true);
        setBoxes(d, QStringLiteral("010"));
        d->ckbAprova->SetChecked(true);
        d->ckbNAprovada->SetChecked(true);
        stOperador.clear();
        stItTrab.clear();
    }
    m_host.takeMessages();
    m_host.server().markCalls();
}

void tst_filter_dialog::cleanup()
{
    QCOMPARE(ShowAviDepth(), 0);
    if (frmFiltroConcAtivProj)
        QVERIFY(!frmFiltroConcAtivProj->Visible());
}

void tst_filter_dialog::loadProject(const QString &project)
{
    QApplication::setActiveWindow(m_host.mainWindow());
    QVERIFY(QTest::qWaitForWindowActive(m_host.mainWindow()));
    ScreenHarness::focus(s->edtCDFILIAL);
    s->edtCDFILIAL->selectAll();
    ScreenHarness::typeText(s->edtCDFILIAL, QStringLiteral("1"));
    ScreenHarness::pressTab(s->edtCDFILIAL);
    s->edtCDPROJETO->selectAll();
    ScreenHarness::typeText(s->edtCDPROJETO, project);
    ScreenHarness::pressTab(s->edtCDPROJETO);
}

void tst_filter_dialog::withDialog(const std::function<void(TfrmFiltroConcAtivProj *)> &action)
{
    // An action that leaves the dialog open (a failed check, a key that did
    // nothing) fails here, instead of the run waiting on the modal dialog.
    bool leftOpen = false;
    ModalAnswer answer(isFilterDialog, [action, &leftOpen](QWidget *w) {
        auto *d = static_cast<TfrmFiltroConcAtivProj *>(w);
        action(d);
        if (d->Visible()) {
            leftOpen = true;
            d->Close();
        }
    });
    QTest::keyClick(focused(), Qt::Key_L, Qt::ControlModifier);
    QTRY_VERIFY(answer.shown);
    QTRY_VERIFY(!frmFiltroConcAtivProj->Visible());
    QVERIFY(!leftOpen);
}

void tst_filter_dialog::confirmDefaults(TfrmFiltroConcAtivProj *d)
{
    QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
}

QStringList tst_filter_dialog::activityTasks() const
{
    QStringList tasks;
    if (!s->cdsConcAtivProj->Active())
        return tasks;
    for (int row = 0; row < s->cdsConcAtivProj->RecordCount(); ++row)
        tasks << s->cdsConcAtivProj->valueAt(row, s->cdsConcAtivProjNRTAREFA->Index()).toString();
    return tasks;
}

QList<ServerFixture::Call> tst_filter_dialog::callsOf(const QString &method)
{
    QList<ServerFixture::Call> out;
    for (const auto &call : m_host.server().callsSinceMark())
        if (call.method == method)
            out << call;
    return out;
}

void tst_filter_dialog::cutConnection()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const int closed = probe.serverPort();
    probe.close();
    const QString host = m_host.server().host();
    s->netConcAtivProj->SetConnected(false);
    s->netConcAtivProj->BeforeConnect = [this, host, closed](QObject *) {
        s->netConcAtivProj->SetHost(host);
        s->netConcAtivProj->SetPort(closed);
    };
}

void tst_filter_dialog::restoreConnection()
{
    s->netConcAtivProj->SetConnected(false);
    s->netConcAtivProj->BeforeConnect = [this](QObject *sender) { s->netConcAtivProjBeforeConnect(sender); };
}

void tst_filter_dialog::beforeFirstUseTheLoadIsUnfiltered()
{
    QVERIFY(!frmFiltroConcAtivProj);
    QVERIFY(!s->sbtFiltro->Enabled());
    loadProject();
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(activityTasks(), (QStringList{"T1", "T2", "T3", "T4", "T5"}));
    QCOMPARE(callsOf(QStringLiteral("getConcAtivPro")).size(), 1);
    QVERIFY(callsOf(QStringLiteral("getFiltroConcAtiv")).isEmpty());
    QVERIFY(s->sbtFiltro->Enabled());
    QVERIFY(s->mnuFiltrar->Enabled());
}

void tst_filter_dialog::defaultsAndTheFilterCommand()
{
    QVERIFY(s->cdsConcAtivProj->Active());
    int cursorInside = 99;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        cursorInside = app()->screenCursor();
        confirmDefaults(d);
    });
    QVERIFY(frmFiltroConcAtivProj);
    QCOMPARE(cursorInside, int(crDefault)); // the user works with the normal cursor
    QCOMPARE(app()->screenCursor(), int(crDefault));

    const auto sent = callsOf(QStringLiteral("getFiltroConcAtiv"));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(texts(sent[0].params), (QStringList{"0001", "0000000003", "", "T", "", "T", "_A", "_A_N"}));
    QCOMPARE(stTOperador, QStringLiteral("T"));
    QCOMPARE(stTItTrab, QStringLiteral("T"));
    QVERIFY(stOperador.isEmpty());
    QVERIFY(stItTrab.isEmpty());
    // Open activities only, in both approval states; the grid has the keyboard.
    QCOMPARE(activityTasks(), (QStringList{"T1", "T2", "T5"}));
    QTRY_COMPARE(focused(), static_cast<QWidget *>(s->dbgPadrao));
    // The dialog replaced the list only: no summary or project-wide bookings call.
    QVERIFY(callsOf(QStringLiteral("getPlanProj")).isEmpty());
    QVERIFY(callsOf(QStringLiteral("getCSAAux")).isEmpty());
    QVERIFY(m_host.takeMessages().isEmpty());

    // The button opens it too, and the same instance comes back as left.
    TfrmFiltroConcAtivProj *first = frmFiltroConcAtivProj;
    ModalAnswer answer(isFilterDialog, [](QWidget *w) {
        auto *d = static_cast<TfrmFiltroConcAtivProj *>(w);
        QTest::keyClick(d, Qt::Key_Escape);
    });
    QTest::mouseClick(s->sbtFiltro, Qt::LeftButton);
    QTRY_VERIFY(answer.shown);
    QCOMPARE(frmFiltroConcAtivProj, first);
    QCOMPARE(answer.title, QStringLiteral("Filtro de Aprovação de Atividades do Projeto"));
}

void tst_filter_dialog::layoutAndStartStates()
{
    TfrmFiltroConcAtivProj *d = frmFiltroConcAtivProj;
    QVERIFY(d);
    QCOMPARE(d->lblCodTela->Caption(), QStringLiteral("VOR01301"));
    QCOMPARE(d->grbFiltroPadrao->size(), QSize(308, 173));
    struct Group
    {
        TGroupBox *box;
        const char *caption;
        QRect at;
    } groups[] = {{d->gpbOperador, "Operador", {6, 9, 139, 73}},
                  {d->gpbItTrab, "Descrição da Atividade", {148, 9, 154, 73}},
                  {d->grbSituacao, "Situação", {6, 82, 139, 86}},
                  {d->grbStatus, "Status de Aprovação", {148, 82, 154, 86}}};
    for (const Group &g : groups) {
        QCOMPARE(g.box->parentWidget(), static_cast<QWidget *>(d->grbFiltroPadrao));
        QCOMPARE(g.box->Caption(), QString::fromUtf8(g.caption));
        QCOMPARE(g.box->geometry(), g.at);
        QVERIFY(g.box->font().bold());
    }
    QVERIFY(!d->ckbTodas->font().bold());
    // No choice crosses its group's title or border.
    for (QAbstractButton *choice : d->grbFiltroPadrao->findChildren<QAbstractButton *>())
        QVERIFY2(choice->parentWidget()->contentsRect().contains(choice->geometry()), qPrintable(choice->objectName()));
    QCOMPARE(d->ckbAndamento->Caption(), QStringLiteral("Em Aberto"));
    QCOMPARE(d->ckbConcluida->Caption(), QStringLiteral("Concluída"));
    QCOMPARE(d->ckbNAprovada->Caption(), QStringLiteral("Não Aprovada"));
    QCOMPARE(d->btpOperador->Hint(), QStringLiteral("Pesquisar"));
    QCOMPARE(d->btpOperador->Associate(), static_cast<QWidget *>(d->rbtListaOp));
    QCOMPARE(d->btpItTrab->Associate(), static_cast<QWidget *>(d->rbtListaItem));
    // Defaults: all operators and descriptions, open only, both statuses.
    QVERIFY(d->rbtTodosOp->Checked());
    QVERIFY(d->rbtTodosItem->Checked());
    QVERIFY(!d->btpOperador->Enabled());
    QVERIFY(!d->btpItTrab->Enabled());
    QCOMPARE(boxes(d), QStringLiteral("010"));
    QVERIFY(d->ckbAprova->Checked());
    QVERIFY(d->ckbNAprovada->Checked());
    // The picker's mark is its check, never a text column; the item key is hidden.
    QVERIFY(!d->cdsOperadorIDMARCADO->Visible);
    QVERIFY(!d->cdsFiltroItemTrabIDMARCADO->Visible);
    QVERIFY(!d->cdsFiltroItemTrabCDITEMTRAB->Visible);
    QVERIFY(d->cdsFiltroItemTrabCDREDUITTRAB->Visible);
}

void tst_filter_dialog::refusalsInOrder()
{
    const QStringList before = activityTasks();
    QStringList messages;
    QList<QWidget *> focus;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        auto confirm = [&] {
            QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
            messages << m_host.takeMessages();
            focus << QApplication::focusWidget();
        };
        // Everything wrong at once: the checks speak one at a time, in order.
        QTest::mouseClick(d->rbtListaOp, Qt::LeftButton);
        QVERIFY(d->btpOperador->Enabled());
        QTest::mouseClick(d->rbtListaItem, Qt::LeftButton);
        QTest::mouseClick(d->ckbAndamento, Qt::LeftButton);
        QTest::mouseClick(d->ckbAprova, Qt::LeftButton);
        QTest::mouseClick(d->ckbNAprovada, Qt::LeftButton);
        confirm();
        stOperador = QStringLiteral("'ANA'");
        confirm();
        stItTrab = QStringLiteral("'IT01'");
        confirm();
        QTest::mouseClick(d->ckbTodas, Qt::LeftButton);
        confirm();
        QVERIFY(d->Visible());
        QCOMPARE(boxes(d), QStringLiteral("100"));
        QTest::mouseClick(d->sbtCancel, Qt::LeftButton);
    });
    QCOMPARE(messages, (QStringList{"Operador deve ser informado.", "Descrição da atividade deve ser informada.",
                                    "Situação da atividade deve ser informada.",
                                    "Status de aprovação da atividade deve ser informado."}));
    TfrmFiltroConcAtivProj *d = frmFiltroConcAtivProj;
    QCOMPARE(focus.at(0), static_cast<QWidget *>(d->rbtListaOp));
    QCOMPARE(focus.at(1), static_cast<QWidget *>(d->rbtListaItem));
    // Situation and status move no focus: it stays on the box last clicked.
    QCOMPARE(focus.at(2), static_cast<QWidget *>(d->rbtListaItem));
    QCOMPARE(focus.at(3), static_cast<QWidget *>(d->ckbTodas));
    QVERIFY(callsOf(QStringLiteral("getFiltroConcAtiv")).isEmpty());
    QCOMPARE(activityTasks(), before);
    // Cancel keeps the lists that were set (they are not empty).
    QVERIFY(d->rbtListaOp->Checked());
    QVERIFY(d->rbtListaItem->Checked());
}

void tst_filter_dialog::situationBoxes_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("click");
    QTest::addColumn<QString>("result");
    // Start states: every consistent one (never "Em Aberto" with "Concluída").
    const QStringList consistent = {"000", "100", "010", "001"};
    for (const QString &start : consistent) {
        for (const char *box : {"todas", "andamento", "concluida"}) {
            const QString b = QString::fromLatin1(box);
            QString result = start;
            const int i = b == QLatin1String("todas") ? 0 : b == QLatin1String("andamento") ? 1 : 2;
            const bool ticking = start.at(i) == QLatin1Char('0');
            if (i == 0)
                result = ticking ? QStringLiteral("100") : QStringLiteral("000");
            else if (!ticking)
                result[i] = QLatin1Char('0');                         // unticks: nothing else
            else if (start.at(0) == QLatin1Char('1'))
                result = i == 1 ? QStringLiteral("010") : QStringLiteral("001"); // alone
            else if (start.at(3 - i) == QLatin1Char('1'))
                result = QStringLiteral("100");                       // the second: "Todas"
            else
                result[i] = QLatin1Char('1');
            QTest::addRow("%s, click %s", qPrintable(start), box) << start << b << result;
        }
    }
}

void tst_filter_dialog::situationBoxes()
{
    QFETCH(QString, start);
    QFETCH(QString, click);
    QFETCH(QString, result);
    QString got;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        setBoxes(d, start);
        TCheckBox *box = click == QLatin1String("todas")       ? d->ckbTodas
                         : click == QLatin1String("andamento") ? d->ckbAndamento
                                                               : d->ckbConcluida;
        QTest::mouseClick(box, Qt::LeftButton);
        got = boxes(d);
        QTest::mouseClick(d->sbtCancel, Qt::LeftButton);
    });
    QCOMPARE(got, result);
}

void tst_filter_dialog::codesSent_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<bool>("approved");
    QTest::addColumn<bool>("notApproved");
    QTest::addColumn<QString>("situationCode");
    QTest::addColumn<QString>("statusCode");
    QTest::addColumn<QStringList>("tasks");
    QTest::newRow("all, both") << "100" << true << true << "_A_C" << "_A_N"
                               << QStringList{"T1", "T2", "T3", "T4", "T5"};
    QTest::newRow("open, approved") << "010" << true << false << "_A" << "_A" << QStringList{"T2"};
    QTest::newRow("concluded, not approved") << "001" << false << true << "_C" << "_N" << QStringList{"T3"};
    QTest::newRow("concluded, both") << "001" << true << true << "_C" << "_A_N" << QStringList{"T3", "T4"};
}

void tst_filter_dialog::codesSent()
{
    QFETCH(QString, situation);
    QFETCH(bool, approved);
    QFETCH(bool, notApproved);
    QFETCH(QString, situationCode);
    QFETCH(QString, statusCode);
    QFETCH(QStringList, tasks);
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        setBoxes(d, situation);
        d->ckbAprova->SetChecked(approved);
        d->ckbNAprovada->SetChecked(notApproved);
        QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
    });
    const auto sent = callsOf(QStringLiteral("getFiltroConcAtiv"));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].params.at(6).toString(), situationCode);
    QCOMPARE(sent[0].params.at(7).toString(), statusCode);
    QCOMPARE(activityTasks(), tasks);
}

void tst_filter_dialog::pickedOperatorsWithQuotes()
{
    QString pickerTitle;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        setBoxes(d, QStringLiteral("100"));
        QTest::mouseClick(d->rbtListaOp, Qt::LeftButton);
        ModalAnswer picker(isPicker, [](QWidget *w) { markAndConfirm(w, {QStringLiteral("Otto")}); });
        QTest::mouseClick(d->btpOperador, Qt::LeftButton);
        QTRY_VERIFY(picker.shown);
        pickerTitle = picker.title;
        QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
    });
    QCOMPARE(pickerTitle, QStringLiteral("Operador"));
    // The operators of the project's activities, fetched with "" and "T".
    const auto lookups = callsOf(QStringLiteral("getFiltroOper"));
    QCOMPARE(lookups.size(), 1);
    QCOMPARE(texts(lookups[0].params), (QStringList{"0001", "0000000003", "", "T"}));
    QCOMPARE(frmFiltroConcAtivProj->cdsOperador->RecordCount(), 3);
    QCOMPARE(stOperador, QStringLiteral("'O''NEIL'"));
    QVERIFY(stTOperador.isEmpty());
    const auto sent = callsOf(QStringLiteral("getFiltroConcAtiv"));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].params.at(4).toString(), QStringLiteral("'O''NEIL'"));
    QCOMPARE(sent[0].params.at(5).toString(), QString());
    QCOMPARE(activityTasks(), (QStringList{"T2", "T4"}));
}

void tst_filter_dialog::pickedListSurvivesUntilTodosIsConfirmed()
{
    stOperador = QStringLiteral("'BIA','ANA'");
    auto confirmWith = [&](bool lista) {
        withDialog([&](TfrmFiltroConcAtivProj *d) {
            setBoxes(d, QStringLiteral("100"));
            QTest::mouseClick(lista ? d->rbtListaOp : d->rbtTodosOp, Qt::LeftButton);
            QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
        });
    };
    // "Todos" then "Lista" again without the picker: the old list still counts.
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTest::mouseClick(d->rbtListaOp, Qt::LeftButton);
        QTest::mouseClick(d->rbtTodosOp, Qt::LeftButton);
        QVERIFY(!d->btpOperador->Enabled());
        QTest::mouseClick(d->sbtCancel, Qt::LeftButton);
    });
    confirmWith(true);
    QCOMPARE(activityTasks(), (QStringList{"T1", "T3", "T5"}));
    QCOMPARE(stOperador, QStringLiteral("'BIA','ANA'"));
    // A confirm with "Todos" forgets it: "Lista" then has nothing to send.
    confirmWith(false);
    QVERIFY(stOperador.isEmpty());
    QCOMPARE(activityTasks().size(), 5);
    QStringList refused;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTest::mouseClick(d->rbtListaOp, Qt::LeftButton);
        QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
        refused = m_host.takeMessages();
        QTest::mouseClick(d->sbtCancel, Qt::LeftButton);
    });
    QCOMPARE(refused, QStringList{"Operador deve ser informado."});
}

void tst_filter_dialog::pickedWorkItemWithComma()
{
    QStringList columns;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        setBoxes(d, QStringLiteral("100"));
        QTest::mouseClick(d->rbtListaItem, Qt::LeftButton);
        ModalAnswer picker(isPicker, [&](QWidget *w) {
            auto *list = w->findChild<QTableView *>(QStringLiteral("list"));
            for (int c = 0; c < list->model()->columnCount(); ++c)
                columns << list->model()->headerData(c, Qt::Horizontal).toString();
            markAndConfirm(w, {QStringLiteral("VIRGULA")});
        });
        QTest::mouseClick(d->btpItTrab, Qt::LeftButton);
        QTRY_VERIFY(picker.shown);
        QCOMPARE(picker.title, QStringLiteral("Descrição da atividade"));
        QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
    });
    // The mark column, the short code and the name: no IDMARCADO, no hidden key.
    QCOMPARE(columns, (QStringList{"", "Código", "Nome"}));
    QCOMPARE(stItTrab, QStringLiteral("'A,B'"));
    QCOMPARE(activityTasks(), (QStringList{"T2", "T5"}));
}

void tst_filter_dialog::failingLookupShowsNoPicker()
{
    bool pickerShown = false;
    QStringList messages;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTest::mouseClick(d->rbtListaOp, Qt::LeftButton);
        cutConnection();
        ModalAnswer picker(isPicker, [&](QWidget *w) {
            pickerShown = true;
            QTest::keyClick(w, Qt::Key_Escape);
        });
        QTest::mouseClick(d->btpOperador, Qt::LeftButton);
        messages = m_host.takeMessages();
        QCOMPARE(ShowAviDepth(), 0);
        QTest::mouseClick(d->sbtCancel, Qt::LeftButton);
    });
    restoreConnection();
    QCOMPARE(messages.size(), 1);
    QVERIFY(!pickerShown);
}

void tst_filter_dialog::failingConfirmKeepsDialogAndList()
{
    const QStringList before = activityTasks();
    QVERIFY(!before.isEmpty());
    bool stillOpen = false;
    QStringList messages;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        setBoxes(d, QStringLiteral("001"));
        cutConnection();
        QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
        messages = m_host.takeMessages();
        stillOpen = d->Visible();
        QCOMPARE(ShowAviDepth(), 0);
        QTest::mouseClick(d->sbtCancel, Qt::LeftButton);
    });
    restoreConnection();
    QVERIFY(stillOpen);
    QCOMPARE(messages.size(), 1);
    QCOMPARE(activityTasks(), before);
}

void tst_filter_dialog::closingTurnsEmptyListsBackToTodos()
{
    stItTrab = QStringLiteral("'IT01'");
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTest::mouseClick(d->rbtListaOp, Qt::LeftButton);   // nothing picked
        QTest::mouseClick(d->rbtListaItem, Qt::LeftButton); // a list kept from before
        d->close();                                         // the window's close box
    });
    TfrmFiltroConcAtivProj *d = frmFiltroConcAtivProj;
    QVERIFY(d->rbtTodosOp->Checked());
    QVERIFY(!d->btpOperador->Enabled());
    QVERIFY(d->rbtListaItem->Checked());
    QVERIFY(d->btpItTrab->Enabled());
}

void tst_filter_dialog::cancelledSettingsApplyToTheNextLoad()
{
    // Every situation unticked, then Cancel.
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTest::mouseClick(d->ckbAndamento, Qt::LeftButton);
        QCOMPARE(boxes(d), QStringLiteral("000"));
        QTest::mouseClick(d->sbtCancel, Qt::LeftButton);
    });
    QVERIFY(m_host.takeMessages().isEmpty());

    // Back to the header and out again: the load stops at the dialog's check,
    // sends no list request, and the list stays closed.
    ScreenHarness::focus(s->edtCDPROJETO);
    QTRY_VERIFY(!s->cdsConcAtivProj->Active());
    m_host.server().markCalls();
    ScreenHarness::pressTab(s->edtCDPROJETO);
    QCOMPARE(m_host.takeMessages(), QStringList{"Situação da atividade deve ser informada."});
    QVERIFY(!s->cdsConcAtivProj->Active());
    QVERIFY(callsOf(QStringLiteral("getFiltroConcAtiv")).isEmpty());
    QVERIFY(callsOf(QStringLiteral("getConcAtivPro")).isEmpty());
    QCOMPARE(m_host.server().methodsSinceMark(), QStringList{"getProjeto"});
    QVERIFY(s->panFiltroProj->isAncestorOf(focused()));

    // The filter command stays within reach to correct it; confirming loads.
    QVERIFY(s->sbtFiltro->Enabled());
    QVERIFY(s->mnuFiltrar->Enabled());
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTest::mouseClick(d->ckbConcluida, Qt::LeftButton);
        QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
    });
    QTRY_VERIFY(s->cdsConcAtivProj->Active());
    QCOMPARE(activityTasks(), (QStringList{"T3", "T4"}));
    QVERIFY(!s->panFiltroProj->isAncestorOf(focused()));
    QVERIFY(m_host.takeMessages().isEmpty());
    const auto sent = callsOf(QStringLiteral("getFiltroConcAtiv"));
    QVERIFY(!sent.isEmpty());
    QCOMPARE(sent.last().params.at(6).toString(), QStringLiteral("_C"));

    // Another project loads under the same criteria.
    m_host.server().markCalls();
    loadProject(QStringLiteral("4"));
    QTRY_COMPARE(activityTasks(), QStringList{"U2"}); // project 4
    // (The server logs a call after answering it: earlier loads' lines may
    // still arrive after the mark.)
    QTRY_VERIFY(!callsOf(QStringLiteral("getPlanProj")).isEmpty()
                && callsOf(QStringLiteral("getPlanProj")).last().params.at(1) == QStringLiteral("0000000004"));
    QVERIFY(callsOf(QStringLiteral("getConcAtivPro")).isEmpty());
    int paraProjeto4 = 0;
    for (const auto &call : callsOf(QStringLiteral("getFiltroConcAtiv")))
        paraProjeto4 += call.params.at(1) == QStringLiteral("0000000004");
    QCOMPARE(paraProjeto4, 1);
    loadProject(QStringLiteral("3"));
    QTRY_COMPARE(activityTasks(), (QStringList{"T3", "T4"}));

    // Refused again, by a reload this time: the list stays, and the filter
    // within reach only while no percentage is being typed, which a new list
    // would throw away.
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTest::mouseClick(d->ckbConcluida, Qt::LeftButton);
        QCOMPARE(boxes(d), QStringLiteral("000"));
        QTest::mouseClick(d->sbtCancel, Qt::LeftButton);
    });
    QTest::mouseClick(s->sbtVerificar, Qt::LeftButton);
    QCOMPARE(m_host.takeMessages(), QStringList{"Situação da atividade deve ser informada."});
    QVERIFY(s->cdsConcAtivProj->Active());
    QVERIFY(s->sbtFiltro->Enabled());
    s->dbgPadrao->setFocus();
    s->dbgPadrao->SetSelectedIndex(IndiceCol(s->dbgPadrao, QStringLiteral("VRPERCCONCL")));
    QTest::keyClick(s->dbgPadrao, Qt::Key_5);
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Edit);
    QVERIFY(!s->sbtFiltro->Enabled());
    QVERIFY(!s->mnuFiltrar->Enabled());
    QTest::mouseClick(s->sbtCancelar, Qt::LeftButton);
    QCOMPARE(s->cdsConcAtivProj->state(), TClientDataSet::State::Browse);
    QVERIFY(s->sbtFiltro->Enabled());
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTest::mouseClick(d->ckbConcluida, Qt::LeftButton);
        QTest::mouseClick(d->sbtConfirma, Qt::LeftButton);
    });
    QTRY_COMPARE(activityTasks(), (QStringList{"T3", "T4"}));
}

void tst_filter_dialog::savedOptionsComeBackExactly()
{
    TfrmFiltroConcAtivProj *d = frmFiltroConcAtivProj;
    // Saved: "Lista" for operators with nothing picked, "Em Aberto" alone, approved only.
    d->rbtListaOp->SetChecked(true);
    setBoxes(d, QStringLiteral("010"));
    d->ckbNAprovada->SetChecked(false);
    d->btfSaveOpcClick(d);
    // Changed to something else entirely.
    d->rbtTodosOp->SetChecked(true);
    setBoxes(d, QStringLiteral("001"));
    d->ckbNAprovada->SetChecked(true);
    d->ckbAprova->SetChecked(false);

    d->btfLoadOpcClick(d);
    QCOMPARE(boxes(d), QStringLiteral("010"));
    QVERIFY(d->ckbAprova->Checked());
    QVERIFY(!d->ckbNAprovada->Checked());
    // The empty operator list is corrected after the load, as on closing.
    QVERIFY(d->rbtTodosOp->Checked());
    QVERIFY(!d->btpOperador->Enabled());

    // With a list picked, "Lista" comes back with its lookup button.
    stOperador = QStringLiteral("'ANA'");
    d->rbtTodosOp->SetChecked(true);
    d->btfLoadOpcClick(d);
    QVERIFY(d->rbtListaOp->Checked());
    QVERIFY(d->btpOperador->Enabled());
}

// --- keyboard only ---

void tst_filter_dialog::tabReachesTheCommands()
{
    QStringList stops;
    QAccessible::Role role = QAccessible::NoRole;
    QString name;
    bool startsAtTheFirstCriterion = false;
    QWidget *menu = nullptr;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        QTRY_VERIFY(d->isAncestorOf(focused()));
        startsAtTheFirstCriterion = focused() == d->rbtTodosOp; // the checked choice
        stops << focused()->objectName();
        for (int i = 0; i < 10; ++i) {
            press(Qt::Key_Tab);
            stops << focused()->objectName();
        }
        QAccessibleInterface *dialog = QAccessible::queryAccessibleInterface(d);
        role = dialog->role();
        name = dialog->text(QAccessible::Name);
        // The options button's menu opens from the keyboard too.
        tabTo(d->btfSaveOpc);
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &watch, [&] {
            if (QWidget *popup = QApplication::activePopupWidget()) {
                menu = popup;
                watch.stop();
                QTest::keyClick(popup, Qt::Key_Escape);
            }
        });
        watch.start(10);
        press(Qt::Key_Down, Qt::AltModifier);
        QTRY_VERIFY(menu);
        QTRY_COMPARE(focused(), static_cast<QWidget *>(d->btfSaveOpc));
        press(Qt::Key_Escape);
    });
    // One choice of each group, the boxes, then the commands, and round again.
    QVERIFY(startsAtTheFirstCriterion);
    QCOMPARE(stops.mid(2, 8), (QStringList{"ckbTodas", "ckbAndamento", "ckbConcluida", "ckbAprova", "ckbNAprovada",
                                           "sbtConfirma", "sbtCancel", "btfSaveOpc"}));
    QCOMPARE(stops.at(10), stops.at(0));
    // Screen readers announce a dialog by its caption, not a plain panel.
    QCOMPARE(role, QAccessible::Dialog);
    QCOMPARE(name, QStringLiteral("Filtro de Aprovação de Atividades do Projeto"));
    QCOMPARE(menu, static_cast<QWidget *>(frmFiltroConcAtivProj->ppmOpcoes));
}

void tst_filter_dialog::returnConfirmsOrPressesTheFocusedButton()
{
    // Return on a criterion confirms.
    withDialog([&](TfrmFiltroConcAtivProj *) { press(Qt::Key_Return); });
    QCOMPARE(callsOf(QStringLiteral("getFiltroConcAtiv")).size(), 1);
    QCOMPARE(activityTasks(), (QStringList{"T1", "T2", "T5"}));

    // On a focused command, Return (or Space) presses that command.
    m_host.server().markCalls();
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        tabTo(d->sbtCancel);
        press(Qt::Key_Return);
    });
    QVERIFY(callsOf(QStringLiteral("getFiltroConcAtiv")).isEmpty());
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        tabTo(d->sbtConfirma);
        press(Qt::Key_Space);
    });
    QCOMPARE(callsOf(QStringLiteral("getFiltroConcAtiv")).size(), 1);

    // Return runs the confirm's checks: a refusal keeps the dialog open.
    QStringList refused;
    bool stillOpen = false;
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        tabTo(d->ckbAndamento);
        press(Qt::Key_Space);
        press(Qt::Key_Enter, Qt::KeypadModifier);
        refused = m_host.takeMessages();
        stillOpen = d->Visible();
        press(Qt::Key_Escape);
    });
    QCOMPARE(refused, QStringList{"Situação da atividade deve ser informada."});
    QVERIFY(stillOpen);
    QCOMPARE(callsOf(QStringLiteral("getFiltroConcAtiv")).size(), 1);
}

void tst_filter_dialog::lookupsOpenFromTheKeyboard()
{
    withDialog([&](TfrmFiltroConcAtivProj *d) {
        ScreenHarness::focus(d->rbtTodosOp);
        press(Qt::Key_Down); // "Lista"
        QVERIFY(d->rbtListaOp->Checked());
        {
            ModalAnswer picker(isPicker, [](QWidget *w) { markAndConfirm(w, {QStringLiteral("Otto")}); });
            press(Qt::Key_F4);
            QVERIFY(picker.shown);
        }
        QTRY_COMPARE(focused(), static_cast<QWidget *>(d->rbtListaOp));
        press(Qt::Key_Tab);
        QCOMPARE(focused(), static_cast<QWidget *>(d->btpOperador));
        press(Qt::Key_Tab);
        QCOMPARE(focused()->parentWidget(), static_cast<QWidget *>(d->gpbItTrab));
        ScreenHarness::focus(d->rbtTodosItem); // whichever choice Tab stopped at
        press(Qt::Key_Down);
        press(Qt::Key_Tab);
        QCOMPARE(focused(), static_cast<QWidget *>(d->btpItTrab));
        {
            ModalAnswer picker(isPicker, [](QWidget *w) { markAndConfirm(w, {QStringLiteral("VIRGULA")}); });
            press(Qt::Key_Space);
            QVERIFY(picker.shown);
        }
        QTRY_COMPARE(focused(), static_cast<QWidget *>(d->btpItTrab));
        tabTo(d->sbtConfirma);
        press(Qt::Key_Return);
    });
    const auto sent = callsOf(QStringLiteral("getFiltroConcAtiv"));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent[0].params.at(2).toString(), QStringLiteral("'A,B'"));
    QCOMPARE(sent[0].params.at(4).toString(), QStringLiteral("'O''NEIL'"));
}

void tst_filter_dialog::press(int key, Qt::KeyboardModifiers modifiers)
{
    QTest::keyClick(focused(), Qt::Key(key), modifiers);
}

void tst_filter_dialog::tabTo(QWidget *target)
{
    for (int i = 0; i < 20 && focused() != target; ++i)
        press(Qt::Key_Tab);
    QCOMPARE(focused(), target);
}

QTEST_MAIN(tst_filter_dialog)
#include "tst_filter_dialog.moc"
