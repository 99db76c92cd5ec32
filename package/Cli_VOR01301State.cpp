// Module state of unit Cli_VOR01301 (the filter dialog). The dialog itself is
// created on first use of the filter command; until then the pointer stays null.
#include "VOR01300.h"

extern "C" {
TfrmFiltroConcAtivProj *frmFiltroConcAtivProj = nullptr;
QString stOperador;
QString stTOperador;
QString stItTrab;
QString stTItTrab;
}

void Cli_VOR01301_Finalization()
{
    // The remembered criteria do not outlive the package; the dialog form is
    // the application's and is not freed here.
    stTItTrab.clear();
    stTOperador.clear();
    stItTrab.clear();
    stOperador.clear();
}
