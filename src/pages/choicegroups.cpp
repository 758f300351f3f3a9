#include "pages/choicegroups.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QRadioButton>
#include <QResizeEvent>
#include <algorithm>

namespace tarvik {

void ColumnArranger::setUp(QGroupBox* group, int columns) {
    group_ = group;
    columns_ = inUse_ = std::max(1, columns);
    layout_ = new QGridLayout(group);
    layout_->setContentsMargins(6, 2, 6, 2);
    layout_->setHorizontalSpacing(4);
}

void ColumnArranger::add(QWidget* item) {
    items_.push_back(item);
    const int i = static_cast<int>(items_.size()) - 1;
    layout_->addWidget(item, i / inUse_, i % inUse_);
}

// Items run down the columns row by row: item i sits at row i / columns, column i % columns.
void ColumnArranger::place(int columns) {
    if (columns == inUse_) return;
    for (QWidget* item : items_) layout_->removeWidget(item);
    inUse_ = columns;
    for (size_t i = 0; i < items_.size(); ++i)
        layout_->addWidget(items_[i], static_cast<int>(i) / columns, static_cast<int>(i) % columns);
    group_->updateGeometry();
}

void ColumnArranger::arrange() {
    if (!layout_ || items_.empty()) return;
    const QMargins m = layout_->contentsMargins();
    const int available = layout_->geometry().width() - m.left() - m.right();
    if (available <= 0) return;
    const int spacing = std::max(0, layout_->horizontalSpacing());
    for (int columns = columns_; columns >= 1; --columns) {
        int needed = (columns - 1) * spacing;
        for (int c = 0; c < columns; ++c) {
            int widest = 0;
            for (size_t i = static_cast<size_t>(c); i < items_.size(); i += static_cast<size_t>(columns))
                widest = std::max(widest, items_[i]->sizeHint().width());
            needed += widest;
        }
        if (needed <= available || columns == 1) {
            place(columns);
            return;
        }
    }
}

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), items_(items) {
    arranger_.setUp(this, columns);
    group_ = new QButtonGroup(this);
    group_->setExclusive(true);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QRadioButton(items[i], this);
        group_->addButton(b, i);
        buttons_.push_back(b);
        arranger_.add(b);
    }
    // A click checks its button before it is reported: a button that became checked on the way marks
    // the click as a change.
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (checked) toggledSinceClick_ = true;
    });
    connect(group_, &QButtonGroup::idClicked, this, [this](int index) {
        const bool changed = toggledSinceClick_;
        toggledSinceClick_ = false;
        emit clicked(index);
        if (changed) emit changedByClick(index);
    });
}

QString RadioGroup::itemText(int index) const {
    return index >= 0 && index < items_.size() ? items_[index] : QString();
}

int RadioGroup::itemIndex() const { return group_->checkedId(); }

void RadioGroup::setItemIndex(int index) {
    if (index >= 0 && index < count()) {
        buttons_[static_cast<size_t>(index)]->setChecked(true);
    } else {
        // An exclusive group cannot be emptied button by button.
        group_->setExclusive(false);
        for (auto* b : buttons_) b->setChecked(false);
        group_->setExclusive(true);
    }
    toggledSinceClick_ = false;  // set by the program: the next click compares with this selection
}

void RadioGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    arranger_.arrange();
}

QString RadioGroup::selectedText() const { return itemText(itemIndex()); }

CheckGroup::CheckGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(caption, parent), items_(items) {
    arranger_.setUp(this, columns);
    for (int i = 0; i < items.size(); ++i) {
        auto* b = new QCheckBox(items[i], this);
        boxes_.push_back(b);
        arranger_.add(b);
        connect(b, &QCheckBox::clicked, this, [this, i] { emit clicked(i); });
    }
}

QString CheckGroup::itemText(int index) const {
    return index >= 0 && index < items_.size() ? items_[index] : QString();
}

void CheckGroup::resizeEvent(QResizeEvent* event) {
    QGroupBox::resizeEvent(event);
    arranger_.arrange();
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
