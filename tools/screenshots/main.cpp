// screenshots <csv folder> <output folder>
// Builds the demonstration data folder in a temporary program folder, enters a small bid on it and saves
// the six pages, the table editor on the account executives and the record picker on the stored bids
// (also scrolled to its last columns), each at its default size with its window frame, as PNG files. Meant for an X
// server with a window manager (scripts/screenshots); on any other platform the frames are missing.
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPixmap>
#include <QScreen>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <cstdio>

#include "app/appstyle.h"
#include "app/bidwiring.h"
#include "app/lookups.h"
#include "app/tmainform.h"
#include "demodata/demofolder.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "store/lifecycle.h"
#include "store/storebid.h"
#include "tableedit/dbeditform.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace {

// Answers every question with its default button: the pictures need no one at the keyboard.
class DefaultAnswers : public tarvik::Prompt {
  public:
    int ask(const tarvik::PromptRequest& r) override {
        if (r.defaultButton != tarvik::NoButton) return r.defaultButton;
        for (int b : {tarvik::Yes, tarvik::Ok, tarvik::No, tarvik::Cancel})
            if (r.buttons & b) return b;
        return tarvik::NoButton;
    }
};

// A fixed time, so that the bid ID in the pictures stays the same from one run to the next.
class FixedTime : public tarvik::Clock {
  public:
    QDateTime now() const override { return QDateTime(QDate(2012, 3, 14), QTime(10, 30)); }
};

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Waits until the window manager has framed the window and it is on screen, then grabs its frame from
// the screen as it is shown.
bool save(QWidget* window, const QString& file) {
    window->raise();
    window->activateWindow();
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 3000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        const bool framed = window->frameGeometry() != window->geometry();
        if (window->windowHandle() && window->windowHandle()->isExposed() && framed) break;
    }
    settle(400);
    const QRect frame = window->frameGeometry();
    const QPixmap shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    if (!shot.save(file)) {
        std::fprintf(stderr, "screenshots: %s could not be written\n", qPrintable(file));
        return false;
    }
    std::printf("%s\n", qPrintable(file));
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tarvik::setupApplication(app);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: screenshots <csv folder> <output folder>\n");
        return 2;
    }
    const QString out = args[2];
    QTemporaryDir program;
    QString error;
    {
        ta::DataContext ctx = ta::OpenData();
        const bool built = tarvik::demo::buildDemoFolder(args[1], program.path() + QStringLiteral("/data"), &error);
        ta::CloseData(ctx);
        if (!built) {
            std::fprintf(stderr, "screenshots: %s\n", qPrintable(error));
            return 2;
        }
    }
    DefaultAnswers answers;
    tarvik::Prompt::install(&answers);
    FixedTime clock;
    tarvik::Clock::install(&clock);

    tarvik::TMainForm form(program.path());
    tarvik::wireBidStore(form);
    form.show();

    // A bid as an account executive would have it half-way: the executive, the company, some volumes
    // and sample shipments.
    QComboBox* executives = form.tbsMain->cbxAccountName;
    executives->setCurrentIndex(std::min(2, executives->count() - 1));
    tarvik::cbxAccountNameChange(&form, form.state(), [&form] { tarvik::NewBid(&form, form.state()); });
    form.tbsMain->ebxCompanyName1->setText(QStringLiteral("Northern Widget Supply Ltd."));
    tarvik::StringGrid* services = form.tbsServices->incentiveGrid();
    const QStringList volumes[] = {{QStringLiteral("10"), QStringLiteral("5")},
                                   {QStringLiteral("40"), QStringLiteral("20")},
                                   {QStringLiteral("1250"), QStringLiteral("3333333")}};
    int filled = 0;
    for (int r = 1; r < services->rowCount() && filled < 3; r += 3) {
        if (!form.tbsServices->isServiceRow(r)) continue;
        services->setCell(1, r, volumes[filled][0]);
        services->setCell(2, r, volumes[filled][1]);
        form.tbsServices->rowTotal(r);
        ++filled;
    }
    tarvik::StringGrid* ship = form.tbsShipmentData->shipmentGrid();
    struct Line {
        const char *service, *pieces, *weight, *postal, *country, *rate, *pickup;
    };
    const Line lines[] = {{"Ground", "3", "42", "K1A 0B1", "CA", "18.75", ""},
                          {"Express PAK", "1", "1", "M5V 2T6", "CA", "24.10", "3.50"},
                          {"TB Express", "2", "8", "10001", "US", "3.333333333", ""}};
    int row = 1;
    for (const Line& l : lines) {
        ship->setCell(tarvik::ShipmentPage::ColService, row, QString::fromUtf8(l.service));
        ship->setCell(tarvik::ShipmentPage::ColTotPcs, row, QString::fromUtf8(l.pieces));
        ship->setCell(tarvik::ShipmentPage::ColTotWgt, row, QString::fromUtf8(l.weight));
        ship->setCell(tarvik::ShipmentPage::ColPostal, row, QString::fromUtf8(l.postal));
        ship->setCell(tarvik::ShipmentPage::ColCountry, row, QString::fromUtf8(l.country));
        ship->setCell(tarvik::ShipmentPage::ColCmpRate, row, QString::fromUtf8(l.rate));
        ship->setCell(tarvik::ShipmentPage::ColScPkUp, row, QString::fromUtf8(l.pickup));
        form.tbsShipmentData->lineTotal(row);
        ++row;
    }

    bool ok = true;
    const char* pages[] = {"1-main", "2-shipper-profile", "3-services", "4-bid-profile", "5-cube-analysis",
                           "6-shipment-data"};
    for (int i = 0; i < form.tabEntryPages->count(); ++i) {
        form.tabEntryPages->setCurrentIndex(i);
        ok &= save(&form, out + QStringLiteral("/%1.png").arg(QString::fromLatin1(pages[i])));
    }

    {
        tarvik::TDBeditForm editor(&form, form.state().FProgramFolder, form.state().FDataFolder,
                                   form.state().DataContext);
        editor.SetTableName(QStringLiteral("AELookup"));
        editor.show();
        ok &= save(&editor, out + QStringLiteral("/8-table-editor.png"));
        editor.hide();
    }
    tarvik::StoreBid(&form, form.state());
    {
        tarvik::TDBeditForm picker(&form, form.state().FProgramFolder, form.state().FDataFolder,
                                   form.state().DataContext);
        picker.SetPickerMode(true);
        picker.SetTableName(QStringLiteral("Bids"));
        picker.show();
        ok &= save(&picker, out + QStringLiteral("/9-bid-picker.png"));
        // Scrolled to its last columns: the deletion mark and the bid ID stay in view.
        if (QScrollBar* bar = picker.grid()->columnScrollBar()) bar->setValue(bar->maximum());
        ok &= save(&picker, out + QStringLiteral("/10-bid-picker-scrolled.png"));
        picker.hide();
    }
    form.tbsMain->ebxLocalBidID->clear();  // nothing to ask when the window goes
    tarvik::Prompt::install(nullptr);
    tarvik::Clock::install(nullptr);
    return ok ? 0 : 1;
}
