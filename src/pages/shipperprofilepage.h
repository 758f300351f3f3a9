#pragma once

#include <QWidget>

#include "pages/mainstate.h"

namespace tarvik {

// The tab sheet "tbsShipperProfile" of the main window.
class ShipperProfilePage : public QWidget {
    Q_OBJECT
public:
    ShipperProfilePage(MainState& state, QWidget* parent = nullptr);

private:
    MainState& state_;
};

}  // namespace tarvik
