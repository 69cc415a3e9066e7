#include "overview/overview.h"
