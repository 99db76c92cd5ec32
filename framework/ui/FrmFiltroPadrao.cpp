#include "FrmFiltroPadrao.h"
