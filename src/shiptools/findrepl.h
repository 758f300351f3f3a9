// "Find/&Replace": replaces every whole-cell occurrence of a postal code (letter case ignored) by
// another, in the destination column and, while MOB is on, in the origin column.
#pragma once

#include <QDialog>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvik {

class GradientPanel;
class ShipmentPage;
class StringGrid;
struct MainState;

// The find/replace window: no frame or caption bar, a gradient panel behind its controls. "&Ok" runs
// the replacements and leaves the window open; "&Cancel" closes it.
class TfFindRepl : public QDialog {
    Q_OBJECT
  public:
    explicit TfFindRepl(QWidget* owner = nullptr);

    GradientPanel* Panel = nullptr;
    QLineEdit* ebxFromFind = nullptr;
    QLineEdit* ebxFromReplace = nullptr;
    QLineEdit* ebxFind = nullptr;
    QLineEdit* ebxReplace = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* Button2 = nullptr;  // "&Cancel"

    StringGrid* FGrid = nullptr;
    int FFindColumn = 0;
    int FFromColumn = -1;

    // The two passes: "To Postal" over FFindColumn, then "From Postal" over FFromColumn.
    void btnOkClick();

  private:
    void replacePass(const QString& find, const QString& replacement, int column);
};

// Creates the window without owner, stores grid and columns, enables the From Postal edits only when
// fromColumn > 0, applies the control look (when given), shows the window modally (centred on the
// grid's window) and frees it.
void ShowFindReplace(StringGrid* grid, int findColumn, int fromColumn,
                     const std::function<void(QWidget*)>& applyLook = {});

// The handler of btnFindRepl: the window over ShipmentGrid (From Post. only while MOB is on), then the
// postal and zip code check of every line.
void btnFindReplClick(ShipmentPage& page, MainState& state,
                      const std::function<void(QWidget*)>& applyLook = {});

}  // namespace tarvik
