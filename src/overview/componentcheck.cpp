#include "overview/componentcheck.h"
