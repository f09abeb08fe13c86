// Settings to the page controls, and the file labels: with the settings model.
#include "frontend/settings/settings.h"

void setcontrols() {}
void setfilelabels() {}
