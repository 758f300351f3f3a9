#include "pages/choicegroups.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QRadioButton>

namespace tarvik {

namespace {
// Items run down the columns row by row: item i sits at row i / columns, column i % columns.
void placeInColumns(QGridLayout* layout, QWidget* w, int index, int columns) {
    layout->addWidget(w, index / columns, index % columns);
}
}  // namespace

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), items_(items) {
    if (columns < 1) columns = 1;
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setHorizontalSpacing(4);
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_->addButton(b, i);
        buttons_.push_back(b);
        placeInColumns(layout, b, i, columns);
    }
    connect(group_, &QButtonGroup::idClicked, this, &RadioGroup::clicked);
}

QString RadioGroup::itemText(int index) const {
    return index >= 0 && index < items_.size() ? items_[index] : QString();
}

int RadioGroup::itemIndex() const { return group_->checkedId(); }

void RadioGroup::setItemIndex(int index) {
    if (index >= 0 && index < count()) {
        buttons_[static_cast<size_t>(index)]->setChecked(true);
        return;
    }
    // An exclusive group cannot be emptied button by button.
    group_->setExclusive(false);
    for (auto* b : buttons_) b->setChecked(false);
    group_->setExclusive(true);
}

QString RadioGroup::selectedText() const { return itemText(itemIndex()); }

CheckGroup::CheckGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), items_(items) {
    if (columns < 1) columns = 1;
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setHorizontalSpacing(4);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QCheckBox(items[i], this);
        boxes_.push_back(b);
        placeInColumns(layout, b, i, columns);
        connect(b, &QCheckBox::clicked, this, [this, i] { emit clicked(i); });
    }
}

QString CheckGroup::itemText(int index) const {
    return index >= 0 && index < items_.size() ? items_[index] : QString();
}

bool CheckGroup::isItemChecked(int index) const {
    return index >= 0 && index < count() && boxes_[static_cast<size_t>(index)]->isChecked();
}

void CheckGroup::setItemChecked(int index, bool checked) {
    if (index >= 0 && index < count()) boxes_[static_cast<size_t>(index)]->setChecked(checked);
}

void CheckGroup::clearChecks() {
    for (auto* b : boxes_) b->setChecked(false);
}

}  // namespace tarvik
