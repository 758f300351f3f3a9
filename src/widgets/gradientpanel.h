// A panel of the component set whose background runs from one colour at the top to another at the
// bottom, with a few soft silhouette shapes drawn over the gradient. Child controls sit on it as on
// any widget; the find/replace window is filled by one.
#pragma once

#include <QColor>
#include <QWidget>

namespace tarvik {

class GradientPanel : public QWidget {
    Q_OBJECT
  public:
    explicit GradientPanel(QWidget* parent = nullptr);

    void setColors(const QColor& top, const QColor& bottom);
    QColor topColor() const { return top_; }
    QColor bottomColor() const { return bottom_; }
    // The silhouettes behind the controls (on by default).
    void setShapesVisible(bool on);
    bool shapesVisible() const { return shapes_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor top_;
    QColor bottom_;
    bool shapes_ = true;
};

}  // namespace tarvik
