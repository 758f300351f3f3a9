// bidexample <csv folder> <pdf>
// Prints the bid summary of the demonstration bid into a PDF file: builds the demonstration data folder
// from the reference CSVs in a temporary folder, opens the main window over it (offscreen unless a
// platform is named), keys the demonstration bid and saves its summary. The date and time are fixed
// (14 March 2026, 9:30) and the locale is English (United States), so the file comes out the same on
// every machine. docs/bid-summary-example.pdf is made with it (see README.md).
#include <QApplication>
#include <QLocale>
#include <QTemporaryDir>
#include <cstdio>

#include "app/appstyle.h"
#include "app/bidwiring.h"
#include "app/tmainform.h"
#include "bidexample/demobid.h"
#include "demodata/demofolder.h"
#include "submit/bidsummary.h"
#include "submit/summaryprint.h"
#include "widgets/seams.h"

namespace {

class ExampleClock : public tarvik::Clock {
  public:
    QDateTime now() const override { return QDateTime(QDate(2026, 3, 14), QTime(9, 30)); }
};

// Nothing may wait for a person: any message is printed and answered with its first button.
class PrintingPrompt : public tarvik::Prompt {
  public:
    int ask(const tarvik::PromptRequest& r) override {
        std::fprintf(stderr, "bidexample: unexpected message \"%s\": %s\n", qPrintable(r.caption),
                     qPrintable(r.text));
        failed = true;
        for (int b : {tarvik::Ok, tarvik::Yes, tarvik::No, tarvik::Cancel})
            if (r.buttons & b) return b;
        return tarvik::Ok;
    }
    bool failed = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    tarvik::setupApplication(app);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: bidexample <csv folder> <pdf>\n");
        return 2;
    }
    QTemporaryDir program;
    QString error;
    if (!program.isValid() ||
        !tarvik::demo::buildDemoFolder(args[1], program.filePath(QStringLiteral("data")), &error)) {
        std::fprintf(stderr, "bidexample: the demonstration data folder could not be built: %s\n",
                     qPrintable(error));
        return 2;
    }
    ExampleClock clock;
    tarvik::Clock::install(&clock);
    PrintingPrompt prompt;
    tarvik::Prompt::install(&prompt);
    bool ok = false;
    {
        tarvik::TMainForm form(program.path());
        tarvik::wireBidStore(form);
        tarvik::keyDemonstrationBid(form);
        const tarvik::BidSummary summary = tarvik::GatherBidSummary(form.state(), &form);
        ok = tarvik::SummaryDocument(summary).writePdf(args[2]);
        if (!ok) std::fprintf(stderr, "bidexample: %s could not be written\n", qPrintable(args[2]));
    }
    tarvik::Prompt::install(nullptr);
    tarvik::Clock::install(nullptr);
    return ok && !prompt.failed ? 0 : 1;
}
