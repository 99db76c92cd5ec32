#pragma once

#include <QMainWindow>
#include <QString>
#include <map>
#include <memory>

class PackageLoader;
class QAction;
class QLabel;
class QMdiArea;

// The host's main form: an MDI area for the screens, a menu to open them,
// and the packages that carry them (loaded on first use, kept for the run).
class MainWindow final : public QMainWindow
{
    Q_OBJECT

public:
    // binDir: where the program lies; packages are looked for beside it.
    explicit MainWindow(const QString &binDir, QWidget *parent = nullptr);
    ~MainWindow() override;

    QMdiArea *mdiArea() const { return m_mdiArea; }

    // Opens a screen by its code ("VOR01300"): loads its package when needed
    // (Initialize once), then calls IniProc. Failures are shown through the
    // error presenter; returns false when the screen could not be opened.
    bool openScreen(const QString &screenCode);
    QAction *screenAction(const QString &screenCode) const;
    PackageLoader *package(const QString &screenCode) const; // nullptr until first opened

    // Runs Finalize of every loaded package; the host calls it at its end.
    void finalizePackages();

    // Status line: operator and server.
    void showSession(const QString &operatorCode, const QString &operatorName, const QString &server);

private:
    QString m_binDir;
    QMdiArea *m_mdiArea = nullptr;
    QLabel *m_sessionLabel = nullptr;
    std::map<QString, QAction *> m_actions;
    std::map<QString, std::unique_ptr<PackageLoader>> m_packages;
};
