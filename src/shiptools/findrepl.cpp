#include "shiptools/findrepl.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>

#include "pages/mainstate.h"
#include "pages/shipmentpage.h"
#include "shiptools/postalcodes.h"
#include "widgets/gradientpanel.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

// Turns every letter typed or pasted into the edit to upper case.
class UpperCaseValidator : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input = input.toUpper();
        return Acceptable;
    }
};

QLineEdit* upperEdit(QWidget* parent, const char* name) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setValidator(new UpperCaseValidator(e));
    return e;
}

QLabel* label(QWidget* parent, const char* name, const char* text) {
    auto* l = new QLabel(QString::fromLatin1(text), parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setAttribute(Qt::WA_TranslucentBackground);
    return l;
}

}  // namespace

TfFindRepl::TfFindRepl(QWidget* owner) : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint) {
    setObjectName(QStringLiteral("fFindRepl"));
    setModal(true);

    Panel = new GradientPanel(this);
    Panel->setObjectName(QStringLiteral("Panel1"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(Panel);

    ebxFromFind = upperEdit(Panel, "ebxFromFind");
    ebxFromReplace = upperEdit(Panel, "ebxFromReplace");
    ebxFind = upperEdit(Panel, "ebxFind");
    ebxReplace = upperEdit(Panel, "ebxReplace");
    btnOk = new QPushButton(QStringLiteral("&Ok"), Panel);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setAutoDefault(false);
    Button2 = new QPushButton(QStringLiteral("&Cancel"), Panel);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setAutoDefault(false);
    connect(btnOk, &QPushButton::clicked, this, &TfFindRepl::btnOkClick);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    auto* grid = new QGridLayout(Panel);
    grid->setContentsMargins(16, 14, 16, 14);
    grid->addWidget(label(Panel, "Label1", "Find Postal/Zip"), 0, 1);
    grid->addWidget(label(Panel, "Label2", "and Replace ALL with"), 0, 2);
    grid->addWidget(label(Panel, "Label3", "From Postal"), 1, 0);
    grid->addWidget(ebxFromFind, 1, 1);
    grid->addWidget(ebxFromReplace, 1, 2);
    grid->addWidget(label(Panel, "Label4", "To Postal"), 2, 0);
    grid->addWidget(ebxFind, 2, 1);
    grid->addWidget(ebxReplace, 2, 2);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(Button2);
    grid->addLayout(buttons, 3, 0, 1, 3);

    setTabOrder(ebxFromFind, ebxFromReplace);
    setTabOrder(ebxFromReplace, ebxFind);
    setTabOrder(ebxFind, ebxReplace);
    setTabOrder(ebxReplace, btnOk);
    setTabOrder(btnOk, Button2);
    // The edits sit under column headings, beside row labels: each is named by both.
    ebxFromFind->setAccessibleName(QStringLiteral("From Postal, Find Postal/Zip"));
    ebxFromReplace->setAccessibleName(QStringLiteral("From Postal, and Replace ALL with"));
    ebxFind->setAccessibleName(QStringLiteral("To Postal, Find Postal/Zip"));
    ebxReplace->setAccessibleName(QStringLiteral("To Postal, and Replace ALL with"));
}

void TfFindRepl::replacePass(const QString& find, const QString& replacement, int column) {
    if (find.isEmpty() || !FGrid || column < 1 || column >= FGrid->colCount()) return;
    if (messageDlg(QStringLiteral("Replace ALL %1 with %2.  Are you sure?").arg(find, replacement),
                   DialogKind::Warning, Ok | Cancel) != Ok)
        return;
    int count = 0;
    FGrid->beginUpdate();
    for (int r = 1; r < FGrid->rowCount(); ++r) {
        if (FGrid->cell(column, r).compare(find, Qt::CaseInsensitive) == 0) {
            FGrid->setCell(column, r, replacement);
            ++count;
        }
    }
    FGrid->endUpdate();
    if (count > 0)
        messageDlg(QStringLiteral("Found %1 occurances of %2...").arg(count).arg(find),
                   DialogKind::Information, Ok);
    else
        messageDlg(QStringLiteral("Sorry, %1 was not found...").arg(find), DialogKind::Warning, Ok);
}

void TfFindRepl::btnOkClick() {
    replacePass(ebxFind->text(), ebxReplace->text(), FFindColumn);
    if (ebxFromFind->isEnabled()) replacePass(ebxFromFind->text(), ebxFromReplace->text(), FFromColumn);
}

void ShowFindReplace(StringGrid* grid, int findColumn, int fromColumn,
                     const std::function<void(QWidget*)>& applyLook) {
    TfFindRepl form;
    form.FGrid = grid;
    form.FFindColumn = findColumn;
    form.FFromColumn = fromColumn;
    const bool from = fromColumn > 0;
    form.ebxFromFind->setEnabled(from);
    form.ebxFromReplace->setEnabled(from);
    if (auto* fromLabel = form.findChild<QLabel*>(QStringLiteral("Label3"))) fromLabel->setEnabled(from);
    if (applyLook) applyLook(&form);
    form.adjustSize();
    if (grid && grid->window()) {
        const QRect r = grid->window()->frameGeometry();
        form.move(r.center() - form.rect().center());
    }
    (from ? form.ebxFromFind : form.ebxFind)->setFocus();
    form.exec();
}

void btnFindReplClick(ShipmentPage& page, MainState& state, const std::function<void(QWidget*)>& applyLook) {
    bool mob = page.fromPostShown();
    if (auto* box = page.window()->findChild<QCheckBox*>(QStringLiteral("chbMOB"))) mob = box->isChecked();
    StringGrid* grid = page.shipmentGrid();
    ShowFindReplace(grid, ShipmentPage::ColPostal, mob ? ShipmentPage::ColFromPost : -1, applyLook);
    QString message;
    if (!ValidateShipmentCodes(state, *grid, message)) messageDlg(message, DialogKind::Error, Ok);
}

}  // namespace tarvik
