#include "DBGrid.h"
