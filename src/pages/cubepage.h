#pragma once

#include <QWidget>

#include "pages/mainstate.h"

namespace tarvik {

// The tab sheet "tbsCubeAnalysis" of the main window.
class CubePage : public QWidget {
    Q_OBJECT
public:
    CubePage(MainState& state, QWidget* parent = nullptr);

private:
    MainState& state_;
};

}  // namespace tarvik
