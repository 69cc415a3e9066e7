#include "compare/compare.h"
