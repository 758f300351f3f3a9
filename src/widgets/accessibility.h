// What screen readers are told about the windows' controls.
//
// Every control that takes the focus has an accessible name: the text of its label without the "&" that
// marks the accelerator. Labels name the controls they are buddies of; controls without a label of their
// own (the grids, a comment field beside a question) are named where they are built.
//
// Drop-down lists are named by their label, not by the item chosen in them: the toolkit's own
// description of a combo box takes its current text as its name on this platform, so combo boxes get
// the description below, which keeps the chosen item as the value and lists the drop-down list as the
// combo box's child, also for combo boxes that float over a grid.
//
// A question answered by a pair of boxes ("Yes" and "No") is a group named by the question
// (QuestionGroup), so that moving into either box tells which question it answers.
#pragma once

#include <QString>
#include <QWidget>

namespace tarvik {

// Installs the combo box description (once per run; further calls do nothing). The pages call it when
// they are built.
void installAccessibility();

// The text of a label or caption as it is read out: without the "&" of the accelerator ("&&" stays one
// "&"), line breaks as blanks, trimmed.
QString accessibleText(const QString& caption);

// Gives every control under root that a label names (the label's buddy) and that has no accessible
// name yet the label's text as its name.
void nameControlsFromLabels(QWidget* root);

// A container for the boxes that answer one question; reported as a group named by the question, and
// each box inside it carries the question as its description.
class QuestionGroup : public QWidget {
    Q_OBJECT
  public:
    QuestionGroup(const QString& question, QWidget* parent = nullptr);
    QString question() const { return question_; }
    // Adds a box (or any control) to the group's row and describes it by the question.
    void addControl(QWidget* control);

  private:
    QString question_;
};

}  // namespace tarvik
