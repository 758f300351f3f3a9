#include "widgets/accessibility.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

namespace tarvik {

namespace {

// A combo box as a screen reader sees it: named by its label (or its accessible name), its chosen item
// as its value, its drop-down list (and, when it takes typed text, its edit) as children.
class ComboAccessible : public QAccessibleWidget {
  public:
    explicit ComboAccessible(QComboBox* combo) : QAccessibleWidget(combo, QAccessible::ComboBox) {}

    QComboBox* combo() const { return static_cast<QComboBox*>(object()); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name: {
                const QString own = combo()->accessibleName();
                if (!own.isEmpty()) return own;
                // The label, when one names the box (the toolkit finds the buddy label).
                return accessibleText(QAccessibleWidget::text(QAccessible::Name));
            }
            case QAccessible::Value:
                return combo()->isEditable() && combo()->lineEdit() ? combo()->lineEdit()->text()
                                                                    : combo()->currentText();
            default:
                return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = combo()->view() && combo()->view()->isVisible();
        s.editable = combo()->isEditable();
        return s;
    }

    int childCount() const override { return combo()->isEditable() && combo()->lineEdit() ? 2 : 1; }

    QAccessibleInterface* child(int index) const override {
        if (index == 0) return QAccessible::queryAccessibleInterface(combo()->view());
        if (index == 1 && combo()->isEditable())
            return QAccessible::queryAccessibleInterface(combo()->lineEdit());
        return nullptr;
    }

    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child) return -1;
        if (child->object() == combo()->view()) return 0;
        if (combo()->isEditable() && child->object() == combo()->lineEdit()) return 1;
        return -1;
    }

    QStringList actionNames() const override { return {showMenuAction(), pressAction()}; }
    QString localizedActionDescription(const QString& name) const override {
        if (name == showMenuAction() || name == pressAction()) return QStringLiteral("Open the list");
        return QString();
    }
    void doAction(const QString& name) override {
        if (name == showMenuAction() || name == pressAction()) {
            if (combo()->view()->isVisible())
                combo()->hidePopup();
            else
                combo()->showPopup();
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* accessibleFactory(const QString& className, QObject* object) {
    if (!object || !object->isWidgetType()) return nullptr;
    if (className == QLatin1String("QComboBox")) return new ComboAccessible(static_cast<QComboBox*>(object));
    if (className == QLatin1String("tarvik::QuestionGroup"))
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Grouping,
                                     static_cast<QuestionGroup*>(object)->question());
    return nullptr;
}

}  // namespace

void installAccessibility() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(accessibleFactory);
}

QString accessibleText(const QString& caption) {
    QString out;
    out.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        const QChar c = caption[i];
        if (c == QLatin1Char('&')) {
            if (i + 1 < caption.size() && caption[i + 1] == QLatin1Char('&')) {
                out += c;
                ++i;
            }
            continue;
        }
        out += (c == QLatin1Char('\n') || c == QLatin1Char('\r')) ? QLatin1Char(' ') : c;
    }
    return out.simplified();
}

void nameControlsFromLabels(QWidget* root) {
    installAccessibility();
    if (!root) return;
    for (QLabel* label : root->findChildren<QLabel*>()) {
        QWidget* buddy = label->buddy();
        if (buddy && buddy->accessibleName().isEmpty())
            buddy->setAccessibleName(accessibleText(label->text()));
    }
}

QuestionGroup::QuestionGroup(const QString& question, QWidget* parent)
    : QWidget(parent), question_(accessibleText(question)) {
    installAccessibility();
    setAccessibleName(question_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addStretch(1);
}

void QuestionGroup::addControl(QWidget* control) {
    control->setParent(this);
    control->setAccessibleDescription(question_);
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->insertWidget(row->count() - 1, control);  // before the closing stretch
}

}  // namespace tarvik
