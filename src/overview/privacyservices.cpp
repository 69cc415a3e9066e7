#include "overview/privacyservices.h"
