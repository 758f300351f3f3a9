// The demonstration bid: a complete bid of the demonstration data folder (tools/demodata), keyed into the
// main window the way the account executive enters it, page by page. The example bid summary of docs/
// is printed from it.
#pragma once

namespace tarvik {

class TMainForm;

// Starts a new bid for the executive "Chloe Martin" in form (wired with wireBidStore, over the
// demonstration data folder, with no bid open) and fills every page. Asks nothing.
void keyDemonstrationBid(TMainForm& form);

}  // namespace tarvik
