// The KJ.ini preview lists of the Settings 1 and Settings 2 pages: with the file buttons.
#include "frontend/settings/settings.h"

void showini() {}
