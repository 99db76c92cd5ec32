#include "VOR01300.h"

namespace {

const PackageUnitEntry kUnits[] = {
    {&Cli_VOR01300_Initialization, nullptr}, // Cli_VOR01300
    {nullptr, &Cli_VOR01301_Finalization},   // Cli_VOR01301
};

const PackageInfoTable kPackageInfo = {int(sizeof kUnits / sizeof kUnits[0]), kUnits};

// The host may enter the load and unload entries more than once (each package
// that requires this one enters them too): the units start on the first load
// entry and shut down on the matching last unload entry.
int g_loadCount = 0;

} // namespace

extern "C" {

const PackageInfoTable *GetPackageInfoTable()
{
    return &kPackageInfo;
}

void Initialize()
{
    if (g_loadCount++ > 0)
        return;
    const PackageInfoTable *table = GetPackageInfoTable();
    for (int i = 0; i < table->UnitCount; ++i) {
        if (table->UnitInfo[i].Init)
            table->UnitInfo[i].Init();
    }
}

void Finalize()
{
    if (g_loadCount == 0 || --g_loadCount > 0)
        return;
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
