// "&Print Status": the bid summary of the bid on screen (bidsummary.h) shown page by page in the window
// "Print Status", from which it is printed through the print dialog (any printer Qt sees, or a file) or
// saved as a PDF file through the save dialog.
#pragma once

#include <QDialog>
#include <memory>

#include "pages/mainstate.h"
#include "submit/bidsummary.h"

class QLabel;
class QPushButton;
class QScrollArea;

namespace tarvik {

class SummaryDocument;

class TPrintStatusForm : public QDialog {
    Q_OBJECT
  public:
    TPrintStatusForm(const BidSummary& summary, QWidget* parent = nullptr);
    ~TPrintStatusForm() override;

    const SummaryDocument& document() const { return *document_; }

    // "&Print...": the print dialog, then the chosen pages on the chosen printer. True when printed.
    bool btnPrintClick();
    // "Save as &PDF...": the save dialog, then the whole summary as a PDF file. True when written.
    bool btnSavePdfClick();

    QScrollArea* preview = nullptr;
    QPushButton* btnPrint = nullptr;    // "&Print..."
    QPushButton* btnSavePdf = nullptr;  // "Save as &PDF..."
    QPushButton* btnClose = nullptr;    // "&Close"

  private:
    BidSummary summary_;
    std::unique_ptr<SummaryDocument> document_;
};

// The handler of "&Print Status": gathers the summary of the bid in mainWindow and shows the window.
void mnuPrintStatusClick(MainState& state, QWidget* mainWindow);

// The file name the save dialog proposes: the bid ID (or "Bid") followed by " Summary.pdf".
QString SummaryFileName(const BidSummary& summary);

}  // namespace tarvik
