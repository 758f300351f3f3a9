#include "pages/shipmentpage.h"

namespace tarvik {

ShipmentPage::ShipmentPage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsShipmentData"));
}

}  // namespace tarvik
