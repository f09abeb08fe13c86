#include "encoder/control/settings.h"

settingsrec settings;
uint8_t chapterflags[maxframes];
float zonefactors[maxframes];
alignas(16) matrixpair quantmatrices;
alignas(16) matrixpair basematrices;
alignas(16) reciprocalpair quantrecip;
int loadintramatrix = 0, loadnonintramatrix = 0;
