// The movie information and the file length of the Main page: with the encode button's issue.
#include "frontend/settings/settings.h"

void movieinfo() {}
void filelength() {}
