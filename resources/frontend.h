// The front end's resources: the main dialog 101 and its six tab pages 102 to 107.
#pragma once

struct dlgtemplate;
struct dlgiconres;

extern const dlgtemplate frontdialog101, frontpage102, frontpage103, frontpage104, frontpage105,
    frontpage106, frontpage107;
extern const dlgtemplate* const frontresources[];
extern const int frontresourcecount;
// Icon 116: the main window's icon.
extern const dlgiconres fronticons[];
extern const int fronticoncount;

// The picture box of the two preview pages (106, 107), where the source frame is painted.
constexpr int previewbox = 1500;
