#include "app/appstyle.h"

#include <QApplication>
#include <QFont>
#include <QGuiApplication>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

#include "widgets/seams.h"
#include "widgets/toplevel.h"

namespace tarvik {

const char* flatStyleSheet() {
    return R"(
QMenuBar { background: #f4f5f7; border-bottom: 1px solid #d6d9de; }
QMenuBar::item { padding: 4px 10px; background: transparent; }
QMenuBar::item:selected { background: #dde6f3; }
QMenu { background: #ffffff; border: 1px solid #c9ced6; padding: 3px 0px; }
QMenu::item { padding: 4px 28px 4px 20px; }
QMenu::item:selected { background: #dde6f3; color: #10203a; }
QMenu::item:disabled { color: #9aa0a8; }
QMenu::separator { height: 1px; background: #e1e4e8; margin: 3px 8px; }
QTabWidget::pane { border: 1px solid #c9ced6; top: -1px; background: #ffffff; }
QTabBar::tab { background: #eceef1; border: 1px solid #c9ced6; padding: 5px 8px; margin-right: 1px; }
QTabBar::tab:selected { background: #ffffff; border-bottom-color: #ffffff; }
QTabBar::tab:!selected:hover { background: #e2e8f0; }
QPushButton { background: #f4f5f7; border: 1px solid #b9c0ca; border-radius: 2px; padding: 4px 12px; min-width: 64px; }
QPushButton:hover { background: #e6edf7; }
QPushButton:pressed { background: #d3deee; }
QPushButton:focus { border-color: #4a78c2; }
QPushButton:disabled { color: #9aa0a8; }
)";
}

QPalette applicationPalette(const QPalette& standard) {
    QPalette p = standard;
    p.setColor(QPalette::Window, QColor(0xf4, 0xf5, 0xf7));
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xf7, 0xf8, 0xfa));
    p.setColor(QPalette::Button, QColor(0xf4, 0xf5, 0xf7));
    p.setColor(QPalette::Highlight, QColor(0x4a, 0x78, 0xc2));
    p.setColor(QPalette::HighlightedText, Qt::white);
    // A disabled control must look disabled: greyed text on the window's colour, not a white field.
    const QColor greyText(0x9a, 0xa0, 0xa8);
    p.setColor(QPalette::Disabled, QPalette::Base, QColor(0xe9, 0xeb, 0xee));
    p.setColor(QPalette::Disabled, QPalette::Text, greyText);
    p.setColor(QPalette::Disabled, QPalette::WindowText, greyText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, greyText);
    return p;
}

void setupApplication(QApplication& app) {
    QApplication::setApplicationName(applicationTitle());
    // The desktop finds the menu entry, and with it the icon, of the running program by this name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tarvik.Tarvik"));
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) QApplication::setStyle(fusion);
    QApplication::setPalette(applicationPalette(QApplication::style()->standardPalette()));
    app.setStyleSheet(QString::fromLatin1(flatStyleSheet()));
    // Every window and message box as wide as its title needs, so that no title bar cuts it.
    installTitleFitting();
}

}  // namespace tarvik
