#include "ServerOptions.h"
