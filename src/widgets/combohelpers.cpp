#include "widgets/combohelpers.h"

#include <QComboBox>

namespace tarvik {

void SelectComboText(QComboBox* combo, const QString& text) {
    if (!combo) return;
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i) == text) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    combo->setCurrentIndex(-1);
}

void SelectComboPrefix(QComboBox* combo, const QString& text, int n) {
    if (!combo) return;
    const QString wanted = text.trimmed();
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemText(i).left(n).trimmed() == wanted) {
            combo->setCurrentIndex(i);
            return;
        }
    }
    combo->setCurrentIndex(-1);
}

}  // namespace tarvik
