#include "overview/overviewjson.h"
