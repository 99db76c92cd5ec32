#include "ShowAvi.h"
