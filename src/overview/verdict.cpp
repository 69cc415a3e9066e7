#include "overview/verdict.h"
