#include "PackageLoader.h"

#include "Errors.h"

#include <QDir>
#include <QFileInfo>

PackageLoader::PackageLoader(QString path)
    : m_path(QFileInfo(path).absoluteFilePath())
{
}

PackageLoader::~PackageLoader()
{
    // The host finalizes explicitly at its orderly end; this is the fallback
    // and must not throw out of a destructor.
    try {
        finalize();
    } catch (...) {
    }
}

bool PackageLoader::load(QString *errorText)
{
    if (m_initialized)
        return true;
    const QString name = QFileInfo(m_path).fileName();
    auto fail = [&](const QString &text) {
        if (m_library.isLoaded())
            m_library.unload();
        m_initialize = m_finalize = m_iniProc = nullptr;
        m_infoTable = nullptr;
        if (errorText)
            *errorText = text;
        return false;
    };

    if (!QFileInfo::exists(m_path))
        return fail(QStringLiteral("O pacote %1 não foi encontrado em %2.")
                        .arg(name, QDir::toNativeSeparators(QFileInfo(m_path).absolutePath())));
    m_library.setFileName(m_path);
    if (!m_library.load())
        return fail(QStringLiteral("Não foi possível carregar o pacote %1: %2").arg(name, m_library.errorString()));

    const char *names[] = {"Initialize", "Finalize", "GetPackageInfoTable", "IniProc"};
    QFunctionPointer entries[4] = {};
    for (int i = 0; i < 4; ++i) {
        entries[i] = m_library.resolve(names[i]);
        if (!entries[i])
            return fail(QStringLiteral("O pacote %1 não contém a entrada %2; ele não pode ser usado por este sistema.")
                            .arg(name, QLatin1String(names[i])));
    }
    m_initialize = reinterpret_cast<Entry>(entries[0]);
    m_finalize = reinterpret_cast<Entry>(entries[1]);
    m_infoTable = reinterpret_cast<InfoTableEntry>(entries[2]);
    m_iniProc = reinterpret_cast<Entry>(entries[3]);

    if (!m_infoTable())
        return fail(QStringLiteral("O pacote %1 não informou a sua tabela de unidades; ele não pode ser usado.")
                        .arg(name));
    try {
        m_initialize();
    } catch (...) {
        fail(QString());
        throw;
    }
    m_initialized = true;
    return true;
}

void PackageLoader::openScreen()
{
    if (!m_initialized)
        throw EVorError(QStringLiteral("O pacote %1 não está carregado.").arg(QFileInfo(m_path).fileName()));
    m_iniProc();
}

void PackageLoader::finalize()
{
    if (!m_initialized)
        return;
    m_initialized = false;
    m_finalize();
}

void PackageLoader::unload()
{
    finalize();
    if (m_library.isLoaded())
        m_library.unload();
    m_initialize = m_finalize = m_iniProc = nullptr;
    m_infoTable = nullptr;
}

QString PackageLoader::locate(const QString &binDir, const QString &fileName)
{
    const QDir bin(binDir);
    QStringList candidates{QDir::cleanPath(bin.absoluteFilePath(QStringLiteral("../lib/") + fileName)),
                           QDir::cleanPath(bin.absoluteFilePath(fileName))};
#ifdef VOR_PACKAGE_SUBDIR
    // An installed host: the packages' own folder beside the libraries.
    candidates.prepend(QDir::cleanPath(
        bin.absoluteFilePath(QStringLiteral("../" VOR_PACKAGE_SUBDIR "/") + fileName)));
#endif
    for (const QString &candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return candidates.first();
}
