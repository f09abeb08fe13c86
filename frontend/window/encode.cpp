// The three buttons of the main dialog: "about KJ", "encode" and "exit".
#include "dialogs/dialogs.h"
#include "frontend/window/front.h"
#include "platform/msgbox.h"
#include "platform/queue.h"

void mainbutton(dialogrecord& dlg, int id, int event) {
  switch (id) {
    case 1011:
      msgbox("Ostrelfront 0.21, the front end of the Ostrel MPEG-2 encoder for DVD authoring",
             "Ostrelfront 021", mbok + mbiconinformation + mbsetforeground);
      break;
    case 1013:
      // A running scan is asked to stop and waited for before the program ends.
      stopscan();
      postquit(0);
      break;
    case 1012:
      // The encode: KJ.ini written from the pages, the encoder started and waited for; with
      // the encode button's issue.
      break;
    default:
      break;
  }
}
