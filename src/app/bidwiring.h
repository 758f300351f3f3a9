// Wires the bid store into the main window: storing at the closing question, the new, select and delete
// commands, the account executive question's new bid, the progress window of storing and loading, the
// MOB switch of the shipment grid, submission with its store and clear steps, "&Print Status", and the
// recovery copy of the bid on screen (form.recovery).
#pragma once

namespace tarvik {

class TMainForm;

// Called once by the main window after its pages are built and wired.
void wireBidStore(TMainForm& form);

}  // namespace tarvik
