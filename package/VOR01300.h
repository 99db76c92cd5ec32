#pragma once

// Entries and module-wide state of the loadable package libVOR01300.so, as
// the host resolves them by name (QLibrary::resolve / dlsym).

#include <QString>
#include <QtGlobal>

#define VOR01300_EXPORT Q_DECL_EXPORT

// One unit of the package: its start-up and shut-down work (either may be null).
struct PackageUnitEntry
{
    void (*Init)();
    void (*FInit)();
};

// The package's unit table, in start-up order; shut-down walks it backwards.
struct PackageInfoTable
{
    int UnitCount;
    const PackageUnitEntry *UnitInfo;
};

class TfrmConcAtivProj;
class TfrmFiltroConcAtivProj;

extern "C" {
// Load entry: the first call runs the units' start-up work; later calls only count.
VOR01300_EXPORT void Initialize();
// Unload entry: the call matching the first load entry runs the units'
// shut-down work, in reverse order; earlier calls only count down.
VOR01300_EXPORT void Finalize();
VOR01300_EXPORT const PackageInfoTable *GetPackageInfoTable();
// Opens the approval screen (one instance per load of the package).
VOR01300_EXPORT void IniProc();

// Unit Cli_VOR01300
VOR01300_EXPORT extern TfrmConcAtivProj *frmConcAtivProj;
VOR01300_EXPORT extern bool boStCriado;

// Unit Cli_VOR01301 (the filter dialog and its remembered criteria)
VOR01300_EXPORT extern TfrmFiltroConcAtivProj *frmFiltroConcAtivProj;
VOR01300_EXPORT extern QString stOperador;
VOR01300_EXPORT extern QString stTOperador;
VOR01300_EXPORT extern QString stItTrab;
VOR01300_EXPORT extern QString stTItTrab;
}

// Start-up and shut-down work of each unit, listed in the unit table.
void Cli_VOR01300_Initialization();
void Cli_VOR01301_Finalization();

// Creates the approval screen once per load and shows it restored.
void CriaConcAtivProj();
