// TImportMessage: the small window shown while a bid is stored or loaded and while shipment lines are
// imported. It only informs; a double click on it (or on its text) asks whether the import should be
// aborted and, on Yes, sets FImportAbort, which only the spreadsheet import reads.
//
//   TImportMessage msg(state, mainWindow);
//   msg.setWindowTitle("File Write");
//   msg.Label1->setText("Storing Bid Information...");
//   msg.showNow();
//   ... work ...            // the window goes when msg goes out of scope
#pragma once

#include <QDialog>

#include "pages/mainstate.h"

class QLabel;

namespace tarvik {

class TImportMessage : public QDialog {
    Q_OBJECT
  public:
    TImportMessage(MainState& state, QWidget* owner);

    QLabel* Label1 = nullptr;  // main text, larger font, word wrap
    QLabel* Label2 = nullptr;  // progress number, empty at first

    // Shows the window without making it modal, centred on its owner, waits (briefly) until it is on
    // screen and paints it, so that its text shows before the work starts.
    void showNow();

    // The abort question: "Abort Import?" (caption "Shipment Data Import", question icon, Yes and No).
    // Yes sets FImportAbort; No changes nothing.
    void FormDblClick();
    void Label1DblClick() { FormDblClick(); }

  protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;  // Escape does not close it: the caller frees it

  private:
    MainState& state_;
};

}  // namespace tarvik
