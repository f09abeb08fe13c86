// The preview in a real window: the encoder's preview box becomes the picture area of its
// dialog, and the preview's backend (previewwindow) stretches the image into it.
#pragma once

struct dialogrecord;

// Hooks the preview to the window backend for dialog dlg (the encoder's window); call on the
// window thread after windowstart succeeded, before the dialog is shown.
void previewonwindow(dialogrecord& dlg);
