#include "Events.h"
