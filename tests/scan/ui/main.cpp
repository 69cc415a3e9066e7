#include "support/qtestmain.h"

VARKO_WIDGET_TEST_MAIN()
