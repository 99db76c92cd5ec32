#include "FrmPadraoGrid.h"
