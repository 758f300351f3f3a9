#include "pages/shipperprofilepage.h"

namespace tarvik {

ShipperProfilePage::ShipperProfilePage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsShipperProfile"));
}

}  // namespace tarvik
