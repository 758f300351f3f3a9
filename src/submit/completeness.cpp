#include "submit/completeness.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QLineEdit>
#include <QPair>
#include <QTabWidget>
#include <QWidget>
#include <functional>
#include <iterator>
#include <optional>
#include <vector>

#include "pages/choicegroups.h"
#include "pages/conversions.h"
#include "shiptools/postalcodes.h"
#include "tableaccess/tableaccess.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

struct RequiredField {
    const char* control;
    int page;
    const char* message;
};

// Checked in this order.
const RequiredField kRequired[] = {
    {"ebxBusiness", 1, "'% Business' must be entered."},
    {"cbxIndustry", 1, "Select 'Industry' company belongs to."},
    {"rgBidType", 3, "'Bid Type' must be selected."},
    {"cbxCompetitorName", 3, "'Primary Competitor' has not been selected!"},
    {"cbxBrokerage", 3, "'Brokerage' cannot be blank."},
    {"cbxPLDTypes", 3, "Must select 'Primary Ship Method'."},
    {"cbxCustSource", 3, "No 'Source of competitor rates' entered."},
    {"cbxSourceDist", 3, "'Distribution information source' must be entered"},
    {"rgStrategy", 3, "No 'Strategy' selected."},
    {"rgInfoSource", 4, "Select the 'Souce of Information'"},
    {"rgBillWeight", 4, "Nothing selected for 'Entered Billable Weights reflect?'"},
};

constexpr int kShipmentColumns = 12;

template <typename T>
T* find(QWidget* root, const char* name) {
    if (!root) return nullptr;
    // Exact name, letter case counts; the first one in the tree.
    return root->findChild<T*>(QLatin1String(name));
}

// Shows the page and moves the focus; both are quiet when the window lacks the part.
void bringToFront(QWidget* mainWindow, int page, QWidget* focus) {
    if (auto* tabs = find<QTabWidget>(mainWindow, "tabEntryPages")) tabs->setCurrentIndex(page);
    if (focus) focus->setFocus(Qt::OtherFocusReason);
}

// The control's own visibility flag: hidden only when it was hidden itself (a control on a page that is
// not in front is not hidden).
bool hiddenItself(const QWidget* w) {
    return w->testAttribute(Qt::WA_WState_Hidden) && w->testAttribute(Qt::WA_WState_ExplicitShowHide);
}

bool isChecked(QWidget* mainWindow, const char* name) {
    auto* box = find<QCheckBox>(mainWindow, name);
    return box && box->isChecked();
}

bool lineIsEmpty(const StringGrid& grid, int row) {
    for (int c = 1; c <= kShipmentColumns; ++c)
        if (!grid.cell(c, row).isEmpty()) return false;
    return true;
}

QString field(int table, const char* name) {
    return ta::fetch(table, QLatin1String(name));
}

// A Services record takes a grid row (IncentiveGrid) when it has a description and either a volume
// stem or a description starting with "-" (a heading).
bool takesGridRow(int services) {
    const QString d = field(services, "service_d").trimmed();
    return !d.isEmpty() &&
           (!field(services, "dbf_field").trimmed().isEmpty() || d.startsWith(QLatin1Char('-')));
}

// An edit or combo box with any text, a radio group with a selection; any other control.
bool requiredControlFilled(QWidget* control) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) return !edit->text().isEmpty();
    if (auto* combo = qobject_cast<QComboBox*>(control)) return !combo->currentText().isEmpty();
    if (auto* group = qobject_cast<RadioGroup*>(control)) return group->itemIndex() >= 0;
    return true;
}

}  // namespace

bool CheckRequiredControl(QWidget* mainWindow, QWidget* control, int page) {
    const bool ok = requiredControlFilled(control);
    if (!ok) bringToFront(mainWindow, page, control);
    return ok;
}

bool CheckServiceVolumes(MainState& state, QWidget* mainWindow, QString& message) {
    auto* shipments = find<StringGrid>(mainWindow, "ShipmentGrid");
    auto* volumes = find<StringGrid>(mainWindow, "IncentiveGrid");
    if (!shipments || !volumes) return true;  // a window without the grids has nothing to cross-check
    const bool multiOnly = isChecked(mainWindow, "chbMultiOnly");

    const int services = ta::mOpen(state.DataContext, state.tablePath(QStringLiteral("Services")));
    if (!services) {
        // The table layer has reported why; a bid whose services cannot be checked is not passed.
        message = QStringLiteral(
            "The Services table could not be opened; the services of this bid cannot be checked.");
        return false;
    }

    // One flag per grid row: the row carries volume and a shipment line uses its service.
    std::vector<bool> used(static_cast<size_t>(std::max(volumes->rowCount(), 1)), false);
    auto setUsed = [&used](int row, bool value) {
        if (row < 0) return;
        if (static_cast<size_t>(row) >= used.size()) used.resize(static_cast<size_t>(row) + 1, false);
        used[static_cast<size_t>(row)] = value;
    };
    auto isUsed = [&used](int row) {
        return row >= 0 && static_cast<size_t>(row) < used.size() && used[size_t(row)];
    };
    auto rowVolume = [volumes](int row, bool otherToo) {
        double v = TextToDecimal(volumes->cell(2, row));
        if (otherToo) v += TextToDecimal(volumes->cell(1, row));
        return v;
    };

    // First pass: every shipment line's service must carry volume on its row. A line's outcome depends
    // only on its service and on whether it is of one piece, so a line like one already passed passes
    // the same way without walking the table again.
    struct Passed {
        int row;
        QString description;
    };
    QHash<QPair<QString, bool>, Passed> passed;
    QString lastDescription;
    for (int r = 1; r < shipments->rowCount(); ++r) {
        if (lineIsEmpty(*shipments, r)) continue;
        const QString s = shipments->cell(1, r);
        if (s.trimmed().isEmpty()) {
            message = QStringLiteral(
                          "Shipment line %1 holds shipment data but no service.\r\n"
                          "Choose its service, or clear the line.")
                          .arg(r);
            ta::d4close(services);
            return false;
        }
        const QPair<QString, bool> kind(s, TextToWhole(shipments->cell(2, r)) == 1);
        if (const auto it = passed.constFind(kind); it != passed.constEnd()) {
            lastDescription = it->description;
            setUsed(it->row, true);
            continue;
        }
        if (!ta::LocateByField(services, QStringLiteral("service"), false, s)) {
            message = QStringLiteral("You have entered shipment data for an UNKNOWN service (") + s +
                      QStringLiteral(")!");
            ta::d4close(services);
            return false;
        }
        // A service without volumes of its own counts on the service record before it.
        if (field(services, "dbf_field").trimmed().isEmpty()) ta::d4skip(services, -1);
        const QString target = field(services, "service").trimmed();
        // A one-piece line of a "Multi" service counts on the single-piece service that follows it.
        const bool singlePiece =
            !multiOnly &&
            ta::CopyRight(field(services, "service_d").trimmed(), 5) == QLatin1String("Multi") && kind.second;

        // Walk the table, counting grid rows as the Services page lays them out.
        bool matched = false;
        bool carries = false;
        int matchedRow = -1;
        int k = 0;
        for (bool more = ta::d4top(services) == 0; more; more = ta::d4skip(services, 1) == 0) {
            const bool hasRow = takesGridRow(services);
            const QString svc = field(services, "service").trimmed();
            const QString stem = field(services, "dbf_field").trimmed().toLower();
            if (!svc.isEmpty() && !stem.isEmpty() && stem != QLatin1String("auto_gen") && svc == target) {
                matched = true;
                int row = hasRow ? k : -1;
                if (singlePiece) {
                    if (ta::d4skip(services, 1) != 0) {
                        lastDescription = QStringLiteral("Unknown");
                        row = k + 1;
                    } else {
                        lastDescription = ta::fetch(services, QStringLiteral("service_d"));
                        row = takesGridRow(services) ? k + (hasRow ? 1 : 0) : -1;
                    }
                } else {
                    lastDescription = ta::fetch(services, QStringLiteral("service_d"));
                }
                carries = row >= 0 && rowVolume(row, true) != 0;
                setUsed(row, carries);
                matchedRow = row;
                break;
            }
            if (hasRow) ++k;
        }
        if (!matched) {
            // A service that no row of the Services page carries (one whose volumes are generated, or
            // whose record before it has no volumes either) can never be given volume.
            message = QStringLiteral(
                          "Shipment line %1: the service (%2) has no row for weekly volume on the "
                          "Services page.\r\nChoose another service for the line.")
                          .arg(r)
                          .arg(s);
            ta::d4close(services);
            return false;
        }
        if (!carries) {
            message = QStringLiteral("You have entered shipment data for a service (") + lastDescription +
                      QStringLiteral("),\r\nbut have not keyed weekly volume for that service!");
            ta::d4close(services);
            return false;
        }
        passed.insert(kind, {matchedRow, lastDescription});
    }

    // Second pass: every service row with Bidding On volume must be used by a shipment line.
    int k = 0;
    for (bool more = ta::d4top(services) == 0; more; more = ta::d4skip(services, 1) == 0) {
        if (!takesGridRow(services)) continue;
        const QString d = field(services, "service_d").trimmed();
        const QString stem = field(services, "dbf_field").trimmed();
        // The row of an automatically generated service (auto_gen) takes volumes that no shipment line
        // can carry: its Bidding On volume needs none, as the first pass never counts lines on it.
        const bool serviceRow = !stem.isEmpty() && stem.toLower() != QLatin1String("auto_gen");
        if (serviceRow && rowVolume(k, false) != 0 && !isUsed(k)) {
            message = QStringLiteral("You have entered weekly volumes for a service (") + d +
                      QStringLiteral("),\r\nbut have not keyed shipment data for that service!");
            ta::d4close(services);
            return false;
        }
        ++k;
    }
    ta::d4close(services);
    return true;
}

namespace {

// The sequence of checks; found is called for every failing one and returns false to stop there.
void runChecks(MainState& state, QWidget* mainWindow, const std::function<bool(BidProblem)>& found) {
    // 1. A bid ID.
    auto* id = find<QLineEdit>(mainWindow, "ebxLocalBidID");
    if (!id || id->text().isEmpty()) {
        if (!found({0, QStringLiteral("No Bid ID assigned yet."), find<QWidget>(mainWindow, "btnNewBid")}))
            return;
    }
    QString message;
    // 2. Postal and zip codes of the shipment lines.
    if (auto* shipments = find<StringGrid>(mainWindow, "ShipmentGrid")) {
        if (!ValidateShipmentCodes(state, *shipments, message) && !found({5, message, shipments})) return;
    }
    // 3. Services against volumes.
    if (!CheckServiceVolumes(state, mainWindow, message) &&
        !found({2, message, find<QWidget>(mainWindow, "IncentiveGrid")}))
        return;
    // 4. Required fields; a control the window lacks, or one hidden itself, is skipped.
    for (const RequiredField& row : kRequired) {
        QWidget* control = find<QWidget>(mainWindow, row.control);
        if (!control || hiddenItself(control)) continue;
        if (!requiredControlFilled(control) && !found({row.page, QString::fromLatin1(row.message), control}))
            return;
    }
    // 5. Credit card question.
    if (!isChecked(mainWindow, "chbValueYes") && !isChecked(mainWindow, "chbValueNo") &&
        !found({1, QStringLiteral("Select 'Yes' or 'No' for 'Credit Card Eligibility Requested'"),
                find<QWidget>(mainWindow, "chbValueNo")}))
        return;
    // 6. Reseller question.
    if (!isChecked(mainWindow, "chbResellerYes") && !isChecked(mainWindow, "chbResellerNo"))
        found({1, QStringLiteral("Select 'Yes' or 'No' for 'Reseller of VYN Services'"),
               find<QWidget>(mainWindow, "chbResellerNo")});
}

}  // namespace

bool CheckBidComplete(MainState& state, QWidget* mainWindow, QString& message) {
    std::optional<BidProblem> first;
    runChecks(state, mainWindow, [&first](BidProblem p) {
        first = std::move(p);
        return false;
    });
    if (!first) return true;
    message = first->message;
    bringToFront(mainWindow, first->page, first->control);
    return false;
}

std::vector<BidProblem> ListBidProblems(MainState& state, QWidget* mainWindow) {
    std::vector<BidProblem> all;
    runChecks(state, mainWindow, [&all](BidProblem p) {
        all.push_back(std::move(p));
        return true;
    });
    return all;
}

QString BidPageName(int page) {
    static const char* const names[] = {"Main",        "Shipper Profile", "Services",
                                        "Bid Profile", "Cube Analysis",   "Shipment Data"};
    return page >= 0 && page < int(std::size(names)) ? QString::fromLatin1(names[page]) : QString();
}

}  // namespace tarvik
