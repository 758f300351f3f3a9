#include "pages/servicespage.h"

namespace tarvik {

ServicesPage::ServicesPage(MainState& state, QWidget* parent) : QWidget(parent), state_(state) {
    setObjectName(QStringLiteral("tbsServices"));
}

}  // namespace tarvik
