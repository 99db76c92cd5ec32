#include "FocusTracker.h"
