// A stand-in screen package: records which entries the host called, in order.
#include "Errors.h"

#include <string>

namespace {
std::string g_log;
bool g_throw = false;
int g_table[2] = {1, 2};
} // namespace

extern "C" {
__attribute__((visibility("default"))) void Initialize() { g_log += 'I'; }
__attribute__((visibility("default"))) void Finalize() { g_log += 'F'; }
__attribute__((visibility("default"))) void *GetPackageInfoTable() { return g_table; }
#ifndef FAKE_WITHOUT_INIPROC
__attribute__((visibility("default"))) void IniProc()
{
    g_log += 'P';
    if (g_throw)
        throw EVorError(QStringLiteral("Falha ao criar a tela."));
}
#endif
__attribute__((visibility("default"))) const char *FakePackageLog() { return g_log.c_str(); }
__attribute__((visibility("default"))) void FakePackageThrow(bool on) { g_throw = on; }
}
