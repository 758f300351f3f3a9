// The bid summary laid out on Letter pages: the layout is made once, as single-line texts, rules and
// filled boxes at fixed places on numbered pages, and then painted on any device (a printer, a PDF file,
// a preview image) at that device's resolution.
//
// Coordinates are in tenths of a point from the top left corner of the paper (a Letter page is 6120 by
// 7920), so the same layout prints identically whatever the device.
#pragma once

#include <QColor>
#include <QPageLayout>
#include <QRectF>
#include <QString>
#include <vector>

#include "submit/bidsummary.h"

class QImage;
class QPagedPaintDevice;
class QPainter;
class QPrinter;

namespace tarvik {

class SummaryDocument {
  public:
    enum class Font { Title, Heading, Label, Body, Bold, Small };
    struct Item {
        enum Kind { Text, Box } kind = Text;
        QRectF rect;
        QString text;  // one line
        Font font = Font::Body;
        Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter;
        QColor color;  // text colour, or the fill of a box
    };

    explicit SummaryDocument(const BidSummary& summary);

    static constexpr double kPageWidth = 6120;  // Letter, in tenths of a point
    static constexpr double kPageHeight = 7920;
    // The paper of the summary, without margins of the device's own (the layout keeps its own).
    static QPageLayout pageLayout();

    int pageCount() const { return static_cast<int>(pages_.size()); }
    const std::vector<Item>& pageItems(int page) const { return pages_.at(static_cast<size_t>(page)); }
    // The page (0-based) and area of the bar chart's bars; page -1 when no service carries volume.
    int chartPage() const { return chartPage_; }
    QRectF chartArea() const { return chartArea_; }
    // The bars of the chart in drawing order, top to bottom, each with its weekly volume.
    const std::vector<std::pair<QString, double>>& chartBars() const { return chartBars_; }

    // Paints one page (0-based) on painter, whose device has dotsPerInch dots per inch and whose origin
    // is the corner of the paper.
    void paintPage(QPainter& painter, int page, double dotsPerInch) const;
    // Paints pages first..last (0-based, inclusive) on device; false when painting could not begin.
    bool paint(QPagedPaintDevice& device, int first, int last) const;
    // Writes every page as a PDF file, replacing the file only when the whole document is written.
    bool writePdf(const QString& path) const;
    // The page as an image of dotsPerInch resolution (the preview).
    QImage pageImage(int page, double dotsPerInch) const;

  private:
    friend class SummaryLayout;
    std::vector<std::vector<Item>> pages_;
    int chartPage_ = -1;
    QRectF chartArea_;
    std::vector<std::pair<QString, double>> chartBars_;
};

// Numbers as the summary prints them: grouped digits, `decimals` decimals (trailing zeros kept).
QString SummaryNumber(double value, int decimals);

}  // namespace tarvik
