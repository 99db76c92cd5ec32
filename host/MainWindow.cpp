#include "MainWindow.h"

#include "Guard.h"
#include "PackageLoader.h"
#include "Routines.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QLabel>
#include <QMdiArea>
#include <QMenuBar>
#include <QStatusBar>

namespace {
struct ScreenEntry
{
    const char *code;
    const char *caption; // UTF-8
    const char *libraryFile;
};

// Screens this host offers.
const ScreenEntry kScreens[] = {
    {"VOR01300", "Aprovação de Atividades do Projeto", "libVOR01300.so"},
};

const ScreenEntry *findScreen(const QString &code)
{
    for (const ScreenEntry &entry : kScreens) {
        if (code.compare(QLatin1String(entry.code), Qt::CaseInsensitive) == 0)
            return &entry;
    }
    return nullptr;
}
} // namespace

MainWindow::MainWindow(const QString &binDir, QWidget *parent)
    : QMainWindow(parent)
    , m_binDir(binDir)
    , m_mdiArea(new QMdiArea(this))
    , m_sessionLabel(new QLabel(this))
{
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(QStringLiteral("Gestão de Projetos"));
    m_mdiArea->setObjectName(QStringLiteral("mdiArea"));
    m_mdiArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdiArea->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdiArea);
    statusBar()->addWidget(m_sessionLabel, 1);

    QMenu *fileMenu = menuBar()->addMenu(QStringLiteral("&Arquivo"));
    QAction *quit = fileMenu->addAction(QStringLiteral("Sai&r"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, [this] { runGuarded([this] { close(); }); });

    QMenu *projects = menuBar()->addMenu(QStringLiteral("&Projetos"));
    for (const ScreenEntry &entry : kScreens) {
        const QString code = QLatin1String(entry.code);
        QAction *action = projects->addAction(QString::fromUtf8(entry.caption));
        action->setObjectName(QStringLiteral("mnu") + code);
        action->setStatusTip(code);
        connect(action, &QAction::triggered, this, [this, code] { openScreen(code); });
        m_actions[code] = action;
    }

    QMenu *windows = menuBar()->addMenu(QStringLiteral("&Janela"));
    QAction *cascade = windows->addAction(QStringLiteral("&Cascata"));
    connect(cascade, &QAction::triggered, this, [this] { runGuarded([this] { m_mdiArea->cascadeSubWindows(); }); });
    QAction *tile = windows->addAction(QStringLiteral("&Lado a lado"));
    connect(tile, &QAction::triggered, this, [this] { runGuarded([this] { m_mdiArea->tileSubWindows(); }); });

    resize(1280, 820);
}

MainWindow::~MainWindow()
{
    finalizePackages();
}

bool MainWindow::openScreen(const QString &screenCode)
{
    bool opened = false;
    runGuarded([&] {
        const ScreenEntry *entry = findScreen(screenCode);
        if (!entry) {
            MensErro(QStringLiteral("A tela %1 não existe neste sistema.").arg(screenCode), false);
            return;
        }
        const QString code = QLatin1String(entry->code);
        auto it = m_packages.find(code);
        if (it == m_packages.end()) {
            it = m_packages
                     .emplace(code, std::make_unique<PackageLoader>(
                                        PackageLoader::locate(m_binDir, QLatin1String(entry->libraryFile))))
                     .first;
        }
        PackageLoader &package = *it->second;
        if (!package.isLoaded()) {
            QString error;
            if (!package.load(&error)) {
                MensErro(error, false);
                return;
            }
        }
        package.openScreen();
        opened = true;
    });
    return opened;
}

QAction *MainWindow::screenAction(const QString &screenCode) const
{
    const auto it = m_actions.find(screenCode);
    return it == m_actions.end() ? nullptr : it->second;
}

PackageLoader *MainWindow::package(const QString &screenCode) const
{
    const auto it = m_packages.find(screenCode);
    return it == m_packages.end() ? nullptr : it->second.get();
}

void MainWindow::finalizePackages()
{
    for (auto &[code, package] : m_packages)
        runGuarded([&package] { package->finalize(); });
}

void MainWindow::showSession(const QString &operatorCode, const QString &operatorName, const QString &server)
{
    const QString who = operatorName.isEmpty() ? operatorCode : operatorCode + QStringLiteral(" - ") + operatorName;
    m_sessionLabel->setText(QStringLiteral("Operador: %1    Servidor: %2").arg(who, server));
}
