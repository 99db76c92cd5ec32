#pragma once

#include <QLibrary>
#include <QString>

// A screen package: a shared library with the C entries Initialize,
// Finalize, GetPackageInfoTable and IniProc. Initialize runs once when the
// package is loaded, Finalize once when it is unloaded or the host ends,
// IniProc each time the user opens the package's screen.
class PackageLoader final
{
public:
    using Entry = void (*)();
    using InfoTableEntry = void *(*)();

    explicit PackageLoader(QString path);
    ~PackageLoader();                 // Finalize if still initialised; the library stays mapped

    PackageLoader(const PackageLoader &) = delete;
    PackageLoader &operator=(const PackageLoader &) = delete;

    QString path() const { return m_path; }

    // Loads the library, resolves the four entries and runs Initialize (once).
    // On failure returns false with a sentence for the user; nothing is run
    // and the library is released. An exception from Initialize passes on
    // after the library is released.
    bool load(QString *errorText);
    bool isLoaded() const { return m_initialized; }

    // IniProc. Exceptions from the package pass on to the caller's guard.
    void openScreen();

    // Finalize (once per load). The library stays mapped: forms the package
    // made are owned by the application object and still need its code.
    void finalize();
    // Finalize, then unmaps the library. Only when none of its forms is left.
    void unload();

    // Where the host looks for a package: the installed packages' folder
    // (<binDir>/../<libdir>/vor01300), <binDir>/../lib, then <binDir>.
    // Returns the absolute path of the first existing file, or the first
    // candidate when neither exists.
    static QString locate(const QString &binDir, const QString &fileName);

private:
    QString m_path;
    QLibrary m_library;
    Entry m_initialize = nullptr;
    Entry m_finalize = nullptr;
    InfoTableEntry m_infoTable = nullptr;
    Entry m_iniProc = nullptr;
    bool m_initialized = false;
};
