#pragma once

#include <QWidget>

#include "pages/mainstate.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvik {

// The tab sheet "tbsMain" of the main window: the account executive, the sales team filled from
// AELookUp, and the identity of the bid on screen.
//
// Tab order: cbxAccountName, btnNewBid, btnSelectBid, ebxCompanyName1, chkPortfolio. The sales team
// fields (cbxSSA, cbxASM, cbxDistrict, ebxRACFID, ebxSSAEmail) and the bid identity fields
// (ebxSubmitDate, ebxLocalBidID, ebxLocalStatus) are read-only line edits that Tab skips; they are filled
// by the program (the names cbxSSA, cbxASM and cbxDistrict are kept although they are plain edits).
class MainPage : public QWidget {
    Q_OBJECT
  public:
    MainPage(MainState& state, QWidget* parent = nullptr);

    QComboBox* cbxAccountName = nullptr;  // drop-down list of account executives
    QPushButton* btnNewBid = nullptr;     // "&New Bid"
    QPushButton* btnSelectBid = nullptr;  // "&Select Bid"
    QLineEdit* ebxCompanyName1 = nullptr;
    QCheckBox* chkPortfolio = nullptr;  // "Portfolio Bid?"

    QLineEdit* cbxSSA = nullptr;
    QLineEdit* cbxASM = nullptr;
    QLineEdit* cbxDistrict = nullptr;
    QLineEdit* ebxRACFID = nullptr;
    QLineEdit* ebxSSAEmail = nullptr;
    QLineEdit* ebxSubmitDate = nullptr;
    QLineEdit* ebxLocalBidID = nullptr;
    QLineEdit* ebxLocalStatus = nullptr;

    // The bid on screen: a bid is open when the local bid ID is not empty.
    bool bidOpen() const;

  private:
    MainState& state_;
};

}  // namespace tarvik
