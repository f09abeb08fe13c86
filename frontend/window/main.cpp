// Ostrelfront: edits every setting, writes KJ.ini and starts the encoder.
#include "frontend/window/front.h"

int main() { return guimain(); }
