#include "DBNavigator.h"
