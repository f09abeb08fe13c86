// The silent probe: is the window shown at all?
#pragma once

// Scans the settings file (the "-ini" file that getargs kept, else "KJ.ini" in the program
// folder) for a line beginning "*SILENT" (any case): false when there is one (window hidden),
// true otherwise, also when the file is missing or unreadable.
bool inisilent();
