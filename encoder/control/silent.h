// The silent probe: is the window shown at all?
#pragma once

// The command-line words the probe needs (only "-ini" and its value); the switch reader
// proper comes later and replaces this.
void probeargs(int argc, char** argv);
// Scans the settings file (the "-ini" file, else "KJ.ini" in the program folder) for a line
// beginning "*SILENT" (any case): false when there is one (window hidden), true otherwise,
// also when the file is missing or unreadable.
bool inisilent();
