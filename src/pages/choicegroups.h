// The radio group and check group of the entry pages: a framed group with a caption whose items are
// laid out in columns. A radio group has at most one selected item (none after a clear); a check group
// lets several items be ticked.
#pragma once

#include <QGroupBox>
#include <QStringList>
#include <vector>

class QAbstractButton;
class QButtonGroup;
class QCheckBox;
class QGridLayout;
class QRadioButton;

namespace tarvik {

// Lays a group's items out in columns, row by row. The group asks for its columns; where its width
// cannot hold them with every caption readable (a window at its minimum size), the items are laid out
// in as many columns as fit, and in the full number again once there is room.
class ColumnArranger {
public:
    void setUp(QGroupBox* group, int columns);
    void add(QWidget* item);
    void arrange();  // from the group's resize
    int columnsInUse() const { return inUse_; }

private:
    void place(int columns);

    QGroupBox* group_ = nullptr;
    QGridLayout* layout_ = nullptr;
    std::vector<QWidget*> items_;
    int columns_ = 1;
    int inUse_ = 1;
};

class RadioGroup : public QGroupBox {
    Q_OBJECT
public:
    RadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr);

    int count() const { return static_cast<int>(buttons_.size()); }
    QString itemText(int index) const;  // as given, "&" included
    QStringList items() const { return items_; }
    int itemIndex() const;                 // -1 when nothing is selected
    void setItemIndex(int index);          // -1 clears the selection; emits nothing
    QString selectedText() const;          // empty when nothing is selected
    QRadioButton* button(int index) const { return buttons_.at(static_cast<size_t>(index)); }
    int columnsInUse() const { return arranger_.columnsInUse(); }

signals:
    // A user click on an item (also on the item already selected).
    void clicked(int index);
    // A user click (mouse, Space or an arrow key) that selected another item than the one selected
    // before; a click on the item already selected, also one set by the program, is no change.
    void changedByClick(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QStringList items_;
    std::vector<QRadioButton*> buttons_;
    QButtonGroup* group_ = nullptr;
    bool toggledSinceClick_ = false;
    ColumnArranger arranger_;
};

class CheckGroup : public QGroupBox {
    Q_OBJECT
public:
    CheckGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent = nullptr);

    int count() const { return static_cast<int>(boxes_.size()); }
    QString itemText(int index) const;
    QStringList items() const { return items_; }
    bool isItemChecked(int index) const;
    void setItemChecked(int index, bool checked);
    void clearChecks();
    QCheckBox* box(int index) const { return boxes_.at(static_cast<size_t>(index)); }
    int columnsInUse() const { return arranger_.columnsInUse(); }

signals:
    void clicked(int index);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QStringList items_;
    std::vector<QCheckBox*> boxes_;
    ColumnArranger arranger_;
};

}  // namespace tarvik
