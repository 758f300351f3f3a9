// A check that needs a real X server with a window manager (run through scripts/with-xvfb by ctest):
// the progress window shows its text on screen before the caller's work starts, and keeps it while the
// work runs without handing the user-interface thread back. It reads the window's pixels from the
// screen, so it sees what a user sees. Exits 0 when the text is there, 1 when it is not, 77 when the
// platform is not an X server (the check cannot be made).
#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMainWindow>
#include <QPixmap>
#include <QScreen>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/importmessage.h"
#include "pages/mainstate.h"

namespace {

// What Label1 shows on screen: its text is painted when the window's light background fills most of
// the label and dark text pixels stand out of it (an unpainted window shows the black screen, or one
// colour).
struct Painted {
    int dark = 0;
    int light = 0;
    bool textShown() const { return dark >= 40 && light * 2 >= dark + light; }
};

Painted onScreen(QLabel* label) {
    const QPoint topLeft = label->mapToGlobal(QPoint(0, 0));
    const QPixmap shot = label->screen()->grabWindow(0, topLeft.x(), topLeft.y(), label->width(), label->height());
    const QImage image = shot.toImage();
    Painted p;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int gray = qGray(image.pixel(x, y));
            if (gray < 110) ++p.dark;
            if (gray > 200) ++p.light;
        }
    return p;
}

struct Case {
    const char* caption;
    const char* text;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::printf("progress window paint check: not on an X server (%s); skipped\n",
                    qPrintable(QGuiApplication::platformName()));
        return 77;
    }
    QMainWindow main;
    main.resize(760, 680);
    main.show();
    app.processEvents();

    const Case cases[] = {{"File Read", "Reading Bid Information..."},
                          {"File Write", "Storing Bid Information..."},
                          {"File Import", "Importing Information, Please Wait..."}};
    int failures = 0;
    for (const Case& c : cases) {
        tarvik::MainState state;
        tarvik::TImportMessage message(state, &main);
        message.setWindowTitle(QString::fromUtf8(c.caption));
        message.Label1->setText(QString::fromUtf8(c.text));
        message.showNow();
        // The work starts: nothing hands the thread back to the event loop from here on.
        const Painted before = onScreen(message.Label1);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const Painted during = onScreen(message.Label1);
        const bool ok = before.textShown() && during.textShown();
        std::printf("%s \"%s\": %d text and %d background pixels when the work starts, %d and %d while it runs: %s\n",
                    c.caption, c.text, before.dark, before.light, during.dark, during.light, ok ? "painted" : "BLANK");
        if (!ok) ++failures;
        message.hide();
        app.processEvents();
    }
    return failures == 0 ? 0 : 1;
}
