#include "DBText.h"
