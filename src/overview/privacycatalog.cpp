#include "overview/privacycatalog.h"
