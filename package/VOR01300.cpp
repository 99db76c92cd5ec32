#include "VOR01300.h"

namespace {

const PackageUnitEntry kUnits[] = {
    {&Cli_VOR01300_Initialization, nullptr}, // Cli_VOR01300
    {nullptr, &Cli_VOR01301_Finalization},   // Cli_VOR01301
};

const PackageInfoTable kPackageInfo = {int(sizeof kUnits / sizeof kUnits[0]), kUnits};

// The host may enter the load and unload entries more than once; the units'
// work runs once per load and once per unload all the same.
bool g_initialized = false;

} // namespace

extern "C" {

const PackageInfoTable *GetPackageInfoTable()
{
    return &kPackageInfo;
}

void Initialize()
{
    if (g_initialized)
        return;
    g_initialized = true;
    const PackageInfoTable *table = GetPackageInfoTable();
    for (int i = 0; i < table->UnitCount; ++i) {
        if (table->UnitInfo[i].Init)
            table->UnitInfo[i].Init();
    }
}

void Finalize()
{
    if (!g_initialized)
        return;
    g_initialized = false;
    const PackageInfoTable *table = GetPackageInfoTable();
    for (int i = table->UnitCount - 1; i >= 0; --i) {
        if (table->UnitInfo[i].FInit)
            table->UnitInfo[i].FInit();
    }
}

void IniProc()
{
    CriaConcAtivProj();
}

} // extern "C"
