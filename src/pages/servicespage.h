#pragma once

#include <QWidget>

#include "pages/mainstate.h"

namespace tarvik {

// The tab sheet "tbsServices" of the main window.
class ServicesPage : public QWidget {
    Q_OBJECT
public:
    ServicesPage(MainState& state, QWidget* parent = nullptr);

private:
    MainState& state_;
};

}  // namespace tarvik
