#include "testsupport/scriptedprompt.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPrinter>
#include <QTimer>
#include <QWidget>
#include <memory>

namespace tarvik::test {

ScriptedPrompt::ScriptedPrompt() : previous_(Prompt::installed()) { Prompt::install(this); }

ScriptedPrompt::~ScriptedPrompt() {
    Prompt::install(previous_);
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " scripted answer(s) were never asked for";
}

ScriptedPrompt& ScriptedPrompt::answer(int button) {
    answers_.push_back({button, {}});
    return *this;
}

ScriptedPrompt& ScriptedPrompt::answer(int button, std::function<void(const PromptRequest&)> check) {
    answers_.push_back({button, std::move(check)});
    return *this;
}

int ScriptedPrompt::ask(const PromptRequest& request) {
    shown_.push_back(request);
    if (answers_.empty()) {
        ADD_FAILURE() << "Unexpected prompt: caption \"" << request.caption.toStdString() << "\", text \""
                      << request.text.toStdString() << "\"";
        if (request.buttons & Cancel) return Cancel;
        if (request.buttons & No) return No;
        return Ok;
    }
    Answer a = std::move(answers_.front());
    answers_.pop_front();
    if (a.check) a.check(request);
    EXPECT_TRUE(request.buttons & a.button)
        << "scripted answer is not one of the prompt's buttons: " << request.text.toStdString();
    return a.button;
}

ScriptedFileChooser::ScriptedFileChooser() { FileChooser::install(this); }
ScriptedFileChooser::~ScriptedFileChooser() {
    FileChooser::install(nullptr);
    EXPECT_TRUE(paths_.empty()) << "scripted file choices were never asked for";
}
ScriptedFileChooser& ScriptedFileChooser::next(const QString& path) {
    paths_.push_back(path);
    return *this;
}
QString ScriptedFileChooser::openFile(QWidget*, const FileRequest& request) {
    requests_.push_back(request);
    return nextPath(request);
}
QString ScriptedFileChooser::saveFile(QWidget*, const FileRequest& request) {
    saveRequests_.push_back(request);
    return nextPath(request);
}
QString ScriptedFileChooser::nextPath(const FileRequest& request) {
    if (paths_.empty()) {
        ADD_FAILURE() << "Unexpected file chooser: " << request.caption.toStdString();
        return QString();
    }
    QString p = paths_.front();
    paths_.pop_front();
    return p;
}
QString ScriptedFileChooser::chooseFolder(QWidget* parent, const FileRequest& request) {
    return openFile(parent, request);
}

ScriptedPrintDialog::ScriptedPrintDialog() {
    PrintDialog::install(this);
}
ScriptedPrintDialog::~ScriptedPrintDialog() {
    PrintDialog::install(nullptr);
}
bool ScriptedPrintDialog::choose(QWidget*, QPrinter& printer, int pageCount) {
    pageCounts.push_back(pageCount);
    if (!accept) return false;
    EXPECT_FALSE(pdfPath.isEmpty()) << "the scripted print dialog needs a file for what is printed";
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    return true;
}

RecordingLauncher::RecordingLauncher() { Launcher::install(this); }
RecordingLauncher::~RecordingLauncher() { Launcher::install(nullptr); }
bool RecordingLauncher::start(const QString& program, const QStringList& arguments, const QString& workingFolder,
                              QString* errorText) {
    starts.push_back({program, arguments, workingFolder});
    if (!succeed && errorText) *errorText = failureText;
    return succeed;
}

FixedClock::FixedClock(QDateTime t) : time(std::move(t)) { Clock::install(this); }
FixedClock::~FixedClock() { Clock::install(nullptr); }

void whenModalShown(std::function<void(QWidget*)> fn) {
    // Polls from the event loop that the modal dialog runs; gives up (and fails) after ~2000 polls.
    auto tries = std::make_shared<int>(0);
    auto timer = new QTimer();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, tries, fn]() {
        QWidget* w = QApplication::activeModalWidget();
        if (w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            fn(w);
            return;
        }
        if (++*tries > 2000) {
            timer->stop();
            timer->deleteLater();
            ADD_FAILURE() << "no modal dialog was shown";
        }
    });
    timer->start();
}

}  // namespace tarvik::test
