// Submission: hands a finished bid to the carrier.
//
// SubmitBid checks the bid, marks it "Submitted" with today's date, stores it, writes its header record
// and detail records into two tables of the send folder beside the program (<ID>Head and <ID>Tail), starts
// the transfer program relayo2 beside the program, and clears the window. The transfer program's log is
// shown by mnuViewStatusClick; mnuFTPSetupClick starts its set-up.
//
// The main window owns one Submission and wires its handlers; the checks, storing and clearing belong to
// other parts of the program and come in as hooks.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

#include "pages/mainstate.h"

class QLineEdit;
class QWidget;

namespace tarvik {

struct SubmitHooks {
    // False with the message when the bid is not complete (the check shows the page with the problem).
    // When empty, the completeness checks of completeness.h run on the main window.
    std::function<bool(QString& message)> CheckBidComplete;
    // Stores the bid; false when it could not be stored (the table layer has said why).
    std::function<bool()> StoreBid;
    std::function<void()> ClearBidWindow;
};

// True when the bid ID (trimmed) is not empty and holds only letters and digits, so that it can name
// files in the send folder without reaching outside it.
bool BidIdIsSafe(const QString& id);

class Submission {
  public:
    // mainWindow: the window whose controls ebxLocalBidID, ebxLocalStatus and ebxSubmitDate (found by
    // object name) hold the bid; also the parent of the log window.
    Submission(MainState& state, QWidget* mainWindow, SubmitHooks hooks = {});

    void setHooks(SubmitHooks hooks) { hooks_ = std::move(hooks); }

    // Checks, marks "Submitted" with today's date, stores, writes the send tables, starts the transfer
    // program and clears the window. When the bid cannot be stored nothing is sent and the window keeps
    // the bid with its former status; when the send tables cannot be written the window keeps the bid.
    void SubmitBid();
    // Writes <ID>Head and <ID>Tail into the send folder. True when both tables were written.
    bool WriteSendFiles();
    void mnuFTPSetupClick();
    void mnuViewStatusClick();
    // "&Update Status": starts the transfer program when tables wait in the send folder (a run that
    // failed, or one that found the server down), and says so; with nothing waiting, says that instead.
    void mnuUpdateStatusClick();
    // The table and memo files waiting in the send folder.
    QStringList waitingInSend() const;

    QString sendFolder() const;       // FProgramFolder/Send
    QString recvFolder() const;       // FProgramFolder/Recv
    // relayo2 (relayo2.exe on Windows) beside the program file: in FExecutableFolder, else FProgramFolder.
    QString transferProgram() const;
    // The transfer program's log as the status shows it: "Relayo2.log" in the current folder.
    static QString statusLogName();

  private:
    QLineEdit* edit(const char* name) const;
    QString bidIdText() const;

    MainState& state_;
    QWidget* mainWindow_;
    SubmitHooks hooks_;
};

}  // namespace tarvik
