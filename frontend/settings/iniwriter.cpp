// The KJ.ini writer: with the settings model.
#include "frontend/settings/settings.h"

bool settingsvalid = false;

void saveini(int mode) {}
