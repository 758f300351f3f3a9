#pragma once

#include <QWidget>

#include "pages/mainstate.h"

namespace tarvik {

// The tab sheet "tbsBidProfile" of the main window.
class BidProfilePage : public QWidget {
    Q_OBJECT
public:
    BidProfilePage(MainState& state, QWidget* parent = nullptr);

private:
    MainState& state_;
};

}  // namespace tarvik
