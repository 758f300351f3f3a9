#pragma once

#include <QWidget>

#include "pages/mainstate.h"

namespace tarvik {

// The tab sheet "tbsShipmentData" of the main window.
class ShipmentPage : public QWidget {
    Q_OBJECT
public:
    ShipmentPage(MainState& state, QWidget* parent = nullptr);

private:
    MainState& state_;
};

}  // namespace tarvik
