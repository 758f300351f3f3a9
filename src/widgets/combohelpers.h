// Item selection on combo boxes by text, as the pickers are set from stored values.
#pragma once

#include <QString>

class QComboBox;

namespace tarvik {

// Selects the first item whose text equals text exactly (letter case counts); no item is selected when
// none does.
void SelectComboText(QComboBox* combo, const QString& text);

// Selects the first item whose first n characters, trimmed, equal text, trimmed (letter case counts);
// no item is selected when none does. With n = 6 a country code selects its country item.
void SelectComboPrefix(QComboBox* combo, const QString& text, int n);

}  // namespace tarvik
