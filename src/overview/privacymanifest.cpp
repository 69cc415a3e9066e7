#include "overview/privacymanifest.h"
