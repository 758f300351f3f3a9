#include "pages/cubepage.h"

namespace tarvik {

CubePage::CubePage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsCubeAnalysis"));
}

}  // namespace tarvik
