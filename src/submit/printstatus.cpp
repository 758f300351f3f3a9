#include "submit/printstatus.h"

#include <QApplication>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPrinter>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "submit/summaryprint.h"
#include "widgets/seams.h"

namespace tarvik {

namespace {

constexpr double kPreviewDpi = 80;

void showFailure(const QString& text) {
    messageBox(text, QStringLiteral("Print Status"), PromptIcon::Error, Ok);
}

}  // namespace

QString SummaryFileName(const BidSummary& summary) {
    QString id = summary.bidId.trimmed();
    // Only what is safe in a file name on every system.
    for (QChar& c : id)
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('_')) c = QLatin1Char('_');
    return (id.isEmpty() ? QStringLiteral("Bid") : id) + QStringLiteral(" Summary.pdf");
}

TPrintStatusForm::TPrintStatusForm(const BidSummary& summary, QWidget* parent)
    : QDialog(parent), summary_(summary), document_(std::make_unique<SummaryDocument>(summary_)) {
    setObjectName(QStringLiteral("frmPrintStatus"));
    setWindowTitle(QStringLiteral("Print Status"));

    // The pages one below the other, as they will be printed.
    preview = new QScrollArea(this);
    preview->setObjectName(QStringLiteral("scrPreview"));
    preview->setBackgroundRole(QPalette::Dark);
    auto* pages = new QWidget(preview);
    auto* pagesLayout = new QVBoxLayout(pages);
    pagesLayout->setSpacing(12);
    for (int p = 0; p < document_->pageCount(); ++p) {
        auto* page = new QLabel(pages);
        page->setObjectName(QStringLiteral("lblPage%1").arg(p + 1));
        page->setPixmap(QPixmap::fromImage(document_->pageImage(p, kPreviewDpi)));
        page->setAccessibleName(QStringLiteral("Page %1 of %2").arg(p + 1).arg(document_->pageCount()));
        pagesLayout->addWidget(page, 0, Qt::AlignHCenter);
    }
    preview->setWidget(pages);
    preview->setAlignment(Qt::AlignHCenter);

    btnPrint = new QPushButton(QStringLiteral("&Print..."), this);
    btnPrint->setObjectName(QStringLiteral("btnPrint"));
    btnPrint->setDefault(true);
    btnSavePdf = new QPushButton(QStringLiteral("Save as &PDF..."), this);
    btnSavePdf->setObjectName(QStringLiteral("btnSavePdf"));
    btnClose = new QPushButton(QStringLiteral("&Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    connect(btnPrint, &QPushButton::clicked, this, [this] { btnPrintClick(); });
    connect(btnSavePdf, &QPushButton::clicked, this, [this] { btnSavePdfClick(); });
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnPrint);
    buttons->addWidget(btnSavePdf);
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(preview, 1);
    layout->addLayout(buttons);
    const int pageWidth = qRound(SummaryDocument::kPageWidth * kPreviewDpi / 720.0);
    resize(pageWidth + 80, 720);
}

TPrintStatusForm::~TPrintStatusForm() = default;

bool TPrintStatusForm::btnPrintClick() {
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(SummaryDocument::pageLayout());
    printer.setFullPage(true);  // the layout keeps its own margins from the paper's edge
    printer.setDocName(QStringLiteral("Bid Summary %1").arg(summary_.bidId.trimmed()));
    printer.setCreator(QStringLiteral("Tarvik v2012.1.0"));
    printer.setFromTo(1, document_->pageCount());
    printer.setPrintRange(QPrinter::AllPages);
    if (!PrintDialog::current().choose(this, printer, document_->pageCount())) return false;
    int first = 0;
    int last = document_->pageCount() - 1;
    if (printer.printRange() == QPrinter::PageRange && printer.fromPage() > 0) {
        first = printer.fromPage() - 1;
        last = std::max(first, printer.toPage() - 1);
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = document_->paint(printer, first, last);
    QApplication::restoreOverrideCursor();
    if (!ok) {
        const QString where = printer.outputFileName().isEmpty()
                                  ? printer.printerName()
                                  : QDir::toNativeSeparators(printer.outputFileName());
        showFailure(QStringLiteral("The bid summary could not be printed on %1.").arg(where));
    }
    return ok;
}

bool TPrintStatusForm::btnSavePdfClick() {
    FileRequest request;
    request.caption = QStringLiteral("Save Bid Summary as PDF");
    request.folder = QDir(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation))
                         .filePath(SummaryFileName(summary_));
    request.filter = QStringLiteral("PDF Files (*.pdf);;All Files (*)");
    request.defaultSuffix = QStringLiteral("pdf");
    const QString path = FileChooser::current().saveFile(this, request);
    if (path.isEmpty()) return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = document_->writePdf(path);
    QApplication::restoreOverrideCursor();
    if (!ok)
        showFailure(QStringLiteral("The bid summary could not be written to %1.")
                        .arg(QDir::toNativeSeparators(path)));
    return ok;
}

void mnuPrintStatusClick(MainState& state, QWidget* mainWindow) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const BidSummary summary = GatherBidSummary(state, mainWindow);
    TPrintStatusForm form(summary, mainWindow);
    QApplication::restoreOverrideCursor();
    form.exec();
}

}  // namespace tarvik
