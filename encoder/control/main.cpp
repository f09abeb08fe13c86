// Entry of the encoder program: everything happens in winmain. The file carries its version.
#include "common/fileversion.h"

int winmain(int argc, char** argv);

int main(int argc, char** argv) { return winmain(argc, argv); }
