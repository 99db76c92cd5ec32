#include "PesquisaLista.h"
