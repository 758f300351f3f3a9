#include "pages/mainpage.h"

namespace tarvik {

MainPage::MainPage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsMain"));
}

}  // namespace tarvik
