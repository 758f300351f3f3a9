#include "shiptools/copyform.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "pages/conversions.h"
#include "pages/shipmentpage.h"
#include "shiptools/okcancel.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

using P = ShipmentPage;

TCopyForm::TCopyForm(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("CopyForm"));
    setWindowTitle(QStringLiteral("Copy Shipment Entry"));
    setModal(true);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("How many copies?"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    ebxCopyTimes = new QLineEdit(this);
    ebxCopyTimes->setObjectName(QStringLiteral("ebxCopyTimes"));
    Label2->setBuddy(ebxCopyTimes);
    QHBoxLayout* buttons = makeOkCancelRow(this, btnOk, btnCancel);

    auto* grid = new QGridLayout(this);
    grid->addWidget(Label1, 0, 0, 1, 2);
    grid->addWidget(Label2, 1, 0);
    grid->addWidget(ebxCopyTimes, 1, 1);
    grid->addLayout(buttons, 2, 0, 1, 2);
    ebxCopyTimes->setFocus();
}

int CopyTimes(const TCopyForm& form, int result) {
    return result == QDialog::Accepted ? TextToWhole(form.ebxCopyTimes->text()) : 0;
}

void btnCopyLineClick(ShipmentPage& page) {
    StringGrid* g = page.shipmentGrid();
    const int current = g->row();
    if (current < 1 || page.lineIsEmpty(current)) {
        messageBox(QStringLiteral("Current Line is Empty!"), QStringLiteral("Grid Copy"), PromptIcon::Error,
                   Ok);
        g->setFocus();
        return;
    }

    int copies = 0;
    {
        TCopyForm form(page.window());
        form.Label1->setText(QStringLiteral("This will copy Shipment Entry: 'Ship #%1'.").arg(current));
        copies = CopyTimes(form, form.exec());
    }

    if (copies > 0) {
        // The copies go after the last line in use, never over a line of the user's.
        const int target = page.lastUsedLine() + 1;
        // The copies and the empty line after them must stay within the grid's limit.
        if (static_cast<qint64>(target) + copies > kMaxCopyLines) {
            messageBox(QStringLiteral("At most %1 copies fit below Ship #%2.")
                           .arg(std::max(0, kMaxCopyLines - target))
                           .arg(current),
                       QStringLiteral("Grid Copy"), PromptIcon::Warning, Ok);
            g->setFocus();
            return;
        }
        const int lastTarget = target + copies - 1;
        if (lastTarget > page.lastLine()) page.appendLines(lastTarget - page.lastLine());
        QStringList line;
        for (int c = P::ColService; c <= P::ColTotCmp; ++c) line << g->cell(c, current);
        g->beginUpdate();
        for (int row = target; row <= lastTarget; ++row)
            for (int c = P::ColService; c <= P::ColTotCmp; ++c) g->setCell(c, row, line[c - P::ColService]);
        g->endUpdate();
        if (!page.lineIsEmpty(page.lastLine())) page.appendLine();
        page.notifyLinesChanged();
    }
    g->setFocus();
}

}  // namespace tarvik
