#include "pages/expandedform.h"

#include <QCollator>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "pages/bidprofilepage.h"

namespace tarvik {

namespace {

QComboBox* makeFreeTextCombo(const char* name, QWidget* parent) {
    auto* c = new QComboBox(parent);
    c->setObjectName(QLatin1String(name));
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    c->setCompleter(nullptr);  // what is typed stays as typed
    return c;
}

// Selects the first item equal to text (case-sensitive); an editable combo keeps the text otherwise.
void showText(QComboBox* combo, const QString& text) {
    const int i = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    combo->setCurrentIndex(i);
    if (combo->isEditable()) combo->setEditText(text);
}

}  // namespace

TExpandedForm::TExpandedForm(const QString& custSource, const QString& sourceDist,
                             const QString& salesStrategy, QWidget* owner)
    : QDialog(owner) {
    setObjectName(QStringLiteral("TExpandedForm"));
    setWindowTitle(QStringLiteral("Full Details..."));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);

    cbxCustSource_ = makeFreeTextCombo("cbxCustSource", this);
    cbxCustSource_->addItems(BidProfilePage::custSourceItems());
    cbxSourceDist_ = makeFreeTextCombo("cbxSourceDist", this);
    mmoSalesStrategy_ = new QPlainTextEdit(this);
    mmoSalesStrategy_->setObjectName(QStringLiteral("mmoSalesStrategy"));
    mmoSalesStrategy_->setTabChangesFocus(true);
    btnExit_ = new QPushButton(QStringLiteral("E&xit"), this);
    btnExit_->setObjectName(QStringLiteral("btnExit"));

    auto* layout = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto* lblCust = new QLabel(QStringLiteral("Competitor information source"), this);
    lblCust->setBuddy(cbxCustSource_);
    auto* lblDist = new QLabel(QStringLiteral("Distribution information source"), this);
    lblDist->setBuddy(cbxSourceDist_);
    grid->addWidget(lblCust, 0, 0);
    grid->addWidget(cbxCustSource_, 0, 1);
    grid->addWidget(lblDist, 1, 0);
    grid->addWidget(cbxSourceDist_, 1, 1);
    grid->setColumnStretch(1, 1);
    layout->addLayout(grid);
    auto* lblMemo = new QLabel(
        QStringLiteral("Briefly explain the sales strategy to obtain this account.  You must provide a short "
                       "description.  Include additional volume potential, service concerns, multiplier used "
                       "in calculations or competitor information."),
        this);
    lblMemo->setWordWrap(true);
    lblMemo->setBuddy(mmoSalesStrategy_);
    layout->addWidget(lblMemo);
    layout->addWidget(mmoSalesStrategy_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnExit_);
    layout->addLayout(buttons);
    resize(560, 360);

    setTabOrder(cbxCustSource_, cbxSourceDist_);
    setTabOrder(cbxSourceDist_, mmoSalesStrategy_);
    setTabOrder(mmoSalesStrategy_, btnExit_);

    // FormCreate: the owner's texts.
    showText(cbxCustSource_, custSource);
    showText(cbxSourceDist_, sourceDist);
    mmoSalesStrategy_->setPlainText(salesStrategy);

    connect(btnExit_, &QPushButton::clicked, this, &TExpandedForm::btnExitClick);
}

void TExpandedForm::loadSourceDist(const QStringList& items) {
    const QString previous = cbxSourceDist_->currentText();
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QStringList sorted;
    for (const QString& item : items) {
        bool seen = false;
        for (const QString& s : sorted)
            if (s.compare(item, Qt::CaseInsensitive) == 0) seen = true;
        if (!seen) sorted << item;
    }
    std::stable_sort(sorted.begin(), sorted.end(),
                     [&](const QString& a, const QString& b) { return collator.compare(a, b) < 0; });
    cbxSourceDist_->clear();
    cbxSourceDist_->addItems(sorted);
    showText(cbxSourceDist_, previous);
}

QString TExpandedForm::custSourceText() const { return cbxCustSource_->currentText(); }
QString TExpandedForm::sourceDistText() const { return cbxSourceDist_->currentText(); }
QString TExpandedForm::salesStrategyText() const { return mmoSalesStrategy_->toPlainText(); }

void TExpandedForm::btnExitClick() { accept(); }

void TExpandedForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    mmoSalesStrategy_->setFocus();
}

}  // namespace tarvik
