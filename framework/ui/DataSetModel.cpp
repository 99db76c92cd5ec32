#include "DataSetModel.h"
