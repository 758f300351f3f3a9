#include "widgets/gradientpanel.h"

#include <gtest/gtest.h>

#include <QImage>

namespace tarvik {
namespace {

// The panel's own painting, as an image of its size.
QImage paint(GradientPanel& panel) {
    return panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Colour distance without regard to small rounding of the gradient.
int distance(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

TEST(GradientPanel, RunsFromTheTopColourToTheBottomColour) {
    GradientPanel panel;
    panel.resize(200, 120);
    panel.setShapesVisible(false);
    panel.setColors(QColor(255, 255, 255), QColor(0, 0, 128));
    EXPECT_EQ(panel.topColor(), QColor(255, 255, 255));
    EXPECT_EQ(panel.bottomColor(), QColor(0, 0, 128));
    const QImage img = paint(panel);
    ASSERT_EQ(img.size(), QSize(200, 120));
    EXPECT_LT(distance(img.pixelColor(100, 0), QColor(255, 255, 255)), 12);
    EXPECT_LT(distance(img.pixelColor(100, 119), QColor(0, 0, 128)), 12);
    // Top to bottom: every row darker than the one above it, every column of a row alike.
    int previous = 255 * 3 + 1;
    for (int y = 0; y < 120; y += 10) {
        const QColor left = img.pixelColor(0, y);
        const int brightness = left.red() + left.green() + left.blue();
        EXPECT_LT(brightness, previous) << "row " << y;
        previous = brightness;
        EXPECT_EQ(img.pixelColor(199, y), left) << "row " << y;
    }
}

TEST(GradientPanel, ShapesChangeThePictureButNotTheTopLeftCorner) {
    GradientPanel panel;
    panel.resize(240, 160);
    EXPECT_TRUE(panel.shapesVisible());
    const QImage withShapes = paint(panel);
    panel.setShapesVisible(false);
    const QImage plain = paint(panel);
    EXPECT_NE(withShapes, plain);
    EXPECT_EQ(withShapes.pixelColor(0, 0), plain.pixelColor(0, 0));
}

}  // namespace
}  // namespace tarvik
