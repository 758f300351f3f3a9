#include "pages/bidprofilepage.h"

namespace tarvik {

BidProfilePage::BidProfilePage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsBidProfile"));
}

}  // namespace tarvik
