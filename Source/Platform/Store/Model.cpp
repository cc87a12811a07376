#include "Platform/Store/Model.h"
