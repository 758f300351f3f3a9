// Test doubles for the seams: a prompt that answers from a script and records what was shown, a file
// chooser that returns the next scripted path, a launcher that records starts, and a fixed clock.
//
// A prompt with no scripted answer fails the running test at once (and answers Cancel/No so the code
// under test returns): no test ever waits for a person.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "widgets/seams.h"

namespace tarvik::test {

class ScriptedPrompt : public Prompt {
public:
    ScriptedPrompt();            // installs itself over the prompt in force
    ~ScriptedPrompt() override;  // puts back the prompt it replaced and fails when answers were left unused

    // Queues the answer to the next prompt.
    ScriptedPrompt& answer(int button);
    // Queues an answer that also checks the request (text, caption, icon, buttons ...).
    ScriptedPrompt& answer(int button, std::function<void(const PromptRequest&)> check);

    int ask(const PromptRequest& request) override;

    const std::vector<PromptRequest>& shown() const { return shown_; }
    const PromptRequest& last() const { return shown_.back(); }
    int pending() const { return static_cast<int>(answers_.size()); }

private:
    struct Answer {
        int button;
        std::function<void(const PromptRequest&)> check;
    };
    Prompt* previous_ = nullptr;
    std::deque<Answer> answers_;
    std::vector<PromptRequest> shown_;
};

class ScriptedFileChooser : public FileChooser {
public:
    ScriptedFileChooser();
    ~ScriptedFileChooser() override;
    ScriptedFileChooser& next(const QString& path);  // "" means the user cancelled
    QString openFile(QWidget* parent, const FileRequest& request) override;
    QString saveFile(QWidget* parent, const FileRequest& request) override;
    // Folder dialogs take their answers from the same queue and are recorded in requests().
    QString chooseFolder(QWidget* parent, const FileRequest& request) override;
    const std::vector<FileRequest>& requests() const { return requests_; }          // open dialogs
    const std::vector<FileRequest>& saveRequests() const { return saveRequests_; }  // save dialogs

  private:
    QString nextPath(const FileRequest& request);
    std::deque<QString> paths_;
    std::vector<FileRequest> requests_;
    std::vector<FileRequest> saveRequests_;
};

// The print dialog of tests: answers with `accept` and, when accepting, sends the printer's output to
// the PDF file pdfPath, so that what was printed can be read back.
class ScriptedPrintDialog : public PrintDialog {
  public:
    ScriptedPrintDialog();
    ~ScriptedPrintDialog() override;
    bool accept = true;
    QString pdfPath;
    std::vector<int> pageCounts;  // one entry per dialog shown: the page count it was offered
    bool choose(QWidget* parent, QPrinter& printer, int pageCount) override;
};

class RecordingLauncher : public Launcher {
public:
    RecordingLauncher();
    ~RecordingLauncher() override;
    bool succeed = true;
    QString failureText = QStringLiteral("The program could not be started.");
    struct Start {
        QString program;
        QStringList arguments;
        QString workingFolder;
    };
    std::vector<Start> starts;
    bool start(const QString& program, const QStringList& arguments, const QString& workingFolder,
               QString* errorText) override;
};

class FixedClock : public Clock {
public:
    explicit FixedClock(QDateTime t);
    ~FixedClock() override;
    QDateTime time;
    QDateTime now() const override { return time; }
};

// Runs fn once the next modal dialog (or any new active modal widget) is shown; used to drive real
// dialogs from a test. The callback receives the modal widget.
void whenModalShown(std::function<void(QWidget*)> fn);

}  // namespace tarvik::test
