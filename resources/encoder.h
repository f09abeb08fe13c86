// The encoder's resources: dialog 101, its one window.
#pragma once

struct dlgtemplate;

extern const dlgtemplate encoderdialog101;
extern const dlgtemplate* const encoderresources[];
extern const int encoderresourcecount;
