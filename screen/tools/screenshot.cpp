// vor01300-screenshot: opens the approval screen the way the host does, against
// a running application server, and saves pictures of it as a user goes: as it
// opens, after typing a branch and a project and tabbing out of the header,
// with two activities marked, after approving them, and with the filter dialog.
//
//   vor01300-screenshot --server HOST:PORT --operator ANA --password ana123
//       --local-db local.sqlite --branch 1 --project 1 --out DIR
#include "Cli_VOR01300.h"
#include "VOR01300.h"

#include "Application.h"
#include "ClientDataSet.h"
#include "DBGeral.h"
#include "DBGrid.h"
#include "Edit.h"
#include "NumberFormat.h"
#include "Routines.h"
#include "Services.h"
#include "ShowAvi.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QPainter>
#include <QTest>
#include <QTimer>
#include <cstdio>

namespace {

void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

bool save(QMainWindow &window, const QString &path)
{
    QApplication::processEvents();
    const bool ok = window.grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "saved" : "could not save", qPrintable(path));
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("host:port"), QStringLiteral("address"));
    const QCommandLineOption operador(QStringLiteral("operator"), QStringLiteral("operator"), QStringLiteral("code"),
                                      QStringLiteral("ANA"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("password"), QStringLiteral("pw"),
                                      QStringLiteral("ana123"));
    const QCommandLineOption localDb(QStringLiteral("local-db"), QStringLiteral("local database"),
                                     QStringLiteral("path"));
    const QCommandLineOption branch(QStringLiteral("branch"), QStringLiteral("branch code"), QStringLiteral("code"),
                                    QStringLiteral("1"));
    const QCommandLineOption project(QStringLiteral("project"), QStringLiteral("project code"),
                                     QStringLiteral("code"), QStringLiteral("1"));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("folder for the pictures"),
                                 QStringLiteral("dir"), QStringLiteral("."));
    parser.addOptions({server, operador, password, localDb, branch, project, out});
    parser.addHelpOption();
    parser.process(application);

    const QString address = parser.value(server);
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0 || !parser.isSet(localDb)) {
        std::fprintf(stderr, "usage: --server HOST:PORT --local-db PATH [--branch B --project P --out DIR]\n");
        return 2;
    }
    Workstation::setLocale(QLocale(QLocale::Portuguese, QLocale::Brazil));
    SetShowAviDelay(0);
    dtmDBGeral().open(parser.value(localDb));
    QString error;
    if (!login(address.left(colon), address.mid(colon + 1).toInt(), parser.value(operador),
               parser.value(password), &error)) {
        std::fprintf(stderr, "login: %s\n", qPrintable(error));
        return 1;
    }
    setWebURL(address.left(colon));
    setWebPort(address.mid(colon + 1).toInt());
    setErrorPresenter([](const QString &text) { std::fprintf(stderr, "message: %s\n", qPrintable(text)); });

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("VOR"));
    auto *area = new QMdiArea(&window);
    window.setCentralWidget(area);
    window.resize(1260, 700);
    app()->SetMainForm(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    if (!QTest::qWaitForWindowActive(&window))
        std::fprintf(stderr, "the window did not become active\n");

    Initialize();
    IniProc();
    TfrmConcAtivProj *screen = frmConcAtivProj;
    if (screen->SubWindow())
        screen->SubWindow()->move(0, 0);
    QDir().mkpath(parser.value(out));
    bool ok = save(window, QDir(parser.value(out)).filePath(QStringLiteral("vor01300-empty.png")));

    screen->edtCDFILIAL->setFocus();
    typeText(screen->edtCDFILIAL, parser.value(branch));
    QTest::keyClick(screen->edtCDFILIAL, Qt::Key_Tab);
    typeText(screen->edtCDPROJETO, parser.value(project));
    QTest::keyClick(screen->edtCDPROJETO, Qt::Key_Tab);
    if (!QTest::qWaitFor([screen] { return screen->cdsConcAtivProj->Active(); }, 10000))
        std::fprintf(stderr, "the project did not load\n");
    ok = save(window, QDir(parser.value(out)).filePath(QStringLiteral("vor01300-loaded.png"))) && ok;

    // Two open activities with bookings marked by clicks on their check
    // cells, then approved with Ctrl+P.
    TDBGrid *grid = screen->dbgPadrao;
    for (int row : {3, 5}) {
        const QModelIndex cell = grid->model()->index(row, IndiceCol(grid, QStringLiteral("IDCHECK")));
        grid->scrollTo(cell);
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, grid->visualRect(cell).center());
    }
    ok = save(window, QDir(parser.value(out)).filePath(QStringLiteral("vor01300-marked.png"))) && ok;
    QApplication::setActiveWindow(&window);
    grid->setFocus();
    QTest::qWaitFor([grid] { return grid->hasFocus(); }, 2000);
    QTest::keyClick(grid, Qt::Key_P, Qt::ControlModifier);
    QTest::qWaitFor([screen] { return screen->cdsConcAtivProj->ChangeCount() == 0; }, 5000);
    ok = save(window, QDir(parser.value(out)).filePath(QStringLiteral("vor01300-approved.png"))) && ok;

    // The filter dialog (Ctrl+L) over the screen, pictured while it is up.
    bool dialogSaved = false;
    QTimer::singleShot(500, &window, [&] {
        QWidget *dialog = QApplication::activeModalWidget();
        if (!dialog)
            return;
        QPixmap picture = window.grab();
        QPainter painter(&picture);
        const QPoint at = dialog->mapToGlobal(QPoint(0, 0)) - window.mapToGlobal(QPoint(0, 0));
        painter.drawPixmap(at, dialog->grab());
        painter.setPen(Qt::darkGray);
        painter.drawRect(QRect(at, dialog->size()).adjusted(0, 0, -1, -1));
        painter.end();
        const QString path = QDir(parser.value(out)).filePath(QStringLiteral("vor01300-filter.png"));
        dialogSaved = picture.save(path);
        std::fprintf(dialogSaved ? stdout : stderr, "%s %s\n", dialogSaved ? "saved" : "could not save",
                     qPrintable(path));
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    QApplication::setActiveWindow(&window);
    grid->setFocus();
    QTest::qWaitFor([grid] { return grid->hasFocus(); }, 2000);
    QTest::keyClick(grid, Qt::Key_L, Qt::ControlModifier);
    if (!dialogSaved)
        std::fprintf(stderr, "the filter dialog did not open\n");
    ok = dialogSaved && ok;

    Finalize();
    logout();
    return ok ? 0 : 1;
}
