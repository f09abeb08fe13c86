// The encoder's resources: dialog 101, its one window.
#pragma once

struct dlgtemplate;
struct dlgiconres;

extern const dlgtemplate encoderdialog101;
extern const dlgtemplate* const encoderresources[];
extern const int encoderresourcecount;
// Icon 103: the window's icon.
extern const dlgiconres encodericons[];
extern const int encodericoncount;
