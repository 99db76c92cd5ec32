#include "BtnPesquisa.h"
