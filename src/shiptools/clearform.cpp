#include "shiptools/clearform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "pages/conversions.h"
#include "pages/mainstate.h"
#include "pages/shipmentpage.h"
#include "shiptools/okcancel.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

using P = ShipmentPage;

TClearForm::TClearForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("ClearForm"));
    setWindowTitle(QStringLiteral("Clear Shipment Entries"));
    setModal(true);

    auto label = [this](const char* name, const char* text) {
        auto* l = new QLabel(QString::fromLatin1(text), this);
        l->setObjectName(QString::fromLatin1(name));
        return l;
    };
    QLabel* heading = label("Label1", "Clear out Shipment Entries -");
    QLabel* from = label("Label2", "Starting at Row:");
    QLabel* to = label("Label3", "Ending at Row:");
    ebxClearFrom = new QLineEdit(QStringLiteral("1"), this);
    ebxClearFrom->setObjectName(QStringLiteral("ebxClearFrom"));
    ebxClearTo = new QLineEdit(this);
    ebxClearTo->setObjectName(QStringLiteral("ebxClearTo"));
    ebxClearTo->setEnabled(false);
    from->setBuddy(ebxClearFrom);
    to->setBuddy(ebxClearTo);
    QHBoxLayout* buttons = makeOkCancelRow(this, btnOk, btnCancel);

    auto* grid = new QGridLayout(this);
    grid->addWidget(heading, 0, 0, 1, 2);
    grid->addWidget(from, 1, 0);
    grid->addWidget(ebxClearFrom, 1, 1);
    grid->addWidget(to, 2, 0);
    grid->addWidget(ebxClearTo, 2, 1);
    grid->addLayout(buttons, 3, 0, 1, 2);
    ebxClearFrom->setFocus();
    ebxClearFrom->selectAll();
}

void ClearShipmentLines(ShipmentPage& page, MainState& state, int start) {
    if (start <= 0 || start > page.lastLine()) return;
    StringGrid* g = page.shipmentGrid();
    state.FLastFromPostal.clear();
    const int first = start;
    const int last = start <= P::InitialLines ? P::InitialLines : start;
    g->setRowCount(last + 1);
    g->beginUpdate();
    for (int r = first; r <= last; ++r)
        for (int c = P::ColService; c <= P::ColTotCmp; ++c) g->setCell(c, r, QString());
    g->endUpdate();
    page.notifyLinesChanged();
}

void btnClearShipGridClick(ShipmentPage& page, MainState& state) {
    StringGrid* g = page.shipmentGrid();
    int start = 0;
    {
        TClearForm form(page.window());
        form.ebxClearTo->setText(QString::number(page.lastLine()));
        if (form.exec() == QDialog::Accepted) start = TextToWhole(form.ebxClearFrom->text());
    }
    // A start beyond the grid would add empty, unnumbered lines; it clears nothing and is refused.
    if (start > page.lastLine()) {
        messageBox(QStringLiteral("Row %1 is beyond the last line (%2): nothing was cleared.")
                       .arg(start)
                       .arg(page.lastLine()),
                   QStringLiteral("Clear Shipment Entries"), PromptIcon::Warning, Ok);
        start = 0;
    }
    ClearShipmentLines(page, state, start);
    g->setFocus();
    page.syncPickers();
}

}  // namespace tarvik
