#include "ListDialogs.h"
