#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QPlainTextEdit;
class QPushButton;

namespace tarvik {

// The expanded sales strategy window "Full Details...": the two information sources and the sales
// strategy with room to write. Whatever way it is closed, its owner takes the three texts back.
class TExpandedForm : public QDialog {
    Q_OBJECT
public:
    // Copies the owner's texts into the window's controls (FormCreate).
    TExpandedForm(const QString& custSource, const QString& sourceDist, const QString& salesStrategy,
                  QWidget* owner);

    // Fills the distribution source list: sorted without regard to case, without duplicates, the
    // current text selected again.
    void loadSourceDist(const QStringList& items);

    QComboBox* cbxCustSource() const { return cbxCustSource_; }
    QComboBox* cbxSourceDist() const { return cbxSourceDist_; }
    QPlainTextEdit* mmoSalesStrategy() const { return mmoSalesStrategy_; }
    QPushButton* btnExit() const { return btnExit_; }

    QString custSourceText() const;
    QString sourceDistText() const;
    QString salesStrategyText() const;

public slots:
    void btnExitClick();

protected:
    void showEvent(QShowEvent* event) override;  // FormActivate: the memo takes the focus

private:
    QComboBox* cbxCustSource_;
    QComboBox* cbxSourceDist_;
    QPlainTextEdit* mmoSalesStrategy_;
    QPushButton* btnExit_;
};

}  // namespace tarvik
