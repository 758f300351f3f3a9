#include "submit/summaryprint.h"

#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QLocale>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "widgets/seams.h"

namespace tarvik {

namespace {

using Item = SummaryDocument::Item;
using Font = SummaryDocument::Font;

// Page geometry, in tenths of a point.
constexpr double kLeft = 540;
constexpr double kRight = SummaryDocument::kPageWidth - 540;
constexpr double kWidth = kRight - kLeft;
constexpr double kHeaderTop = 380;
constexpr double kTop = 660;
constexpr double kBottom = SummaryDocument::kPageHeight - 560;
constexpr double kFooterTop = SummaryDocument::kPageHeight - 520;
constexpr double kCellPad = 40;
constexpr int kMessageLines = 60;  // of one check's message; the rest is counted

const QColor kInk(0x20, 0x20, 0x20);
const QColor kMuted(0x55, 0x5b, 0x63);
const QColor kRule(0x9a, 0xa4, 0xae);
const QColor kShade(0xee, 0xf1, 0xf4);
const QColor kGrid(0xd4, 0xd8, 0xdc);
const QColor kBidding(0x1f, 0x4e, 0x8c);
const QColor kOther(0x8f, 0xb4, 0xde);
const QColor kProblem(0xa0, 0x1c, 0x1c);
const QColor kReady(0x1d, 0x6b, 0x2f);

QFont fontOf(Font f) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setHintingPreference(QFont::PreferNoHinting);
    // No ligatures: the text of the PDF reads back (and copies) letter for letter.
    font.setStyleStrategy(QFont::PreferNoShaping);
    switch (f) {
        case Font::Title:
            font.setPixelSize(170);
            font.setBold(true);
            break;
        case Font::Heading:
            font.setPixelSize(115);
            font.setBold(true);
            break;
        case Font::Label:
            font.setPixelSize(78);
            break;
        case Font::Body:
            font.setPixelSize(82);
            break;
        case Font::Bold:
            font.setPixelSize(82);
            font.setBold(true);
            break;
        case Font::Small:
            font.setPixelSize(72);
            break;
    }
    return font;
}

double lineHeight(Font f) {
    switch (f) {
        case Font::Title:
            return 230;
        case Font::Heading:
            return 140;
        case Font::Small:
            return 100;
        default:
            return 100;
    }
}

// The text cut into lines no wider than width: at word boundaries where there are any, anywhere
// otherwise. An empty text is one empty line; a line break starts a new line.
QStringList wrap(const QString& text, Font f, double width) {
    QStringList out;
    const QFont font = fontOf(f);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QString plain = text;
    plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    for (const QString& paragraph : plain.split(QLatin1Char('\n'))) {
        if (paragraph.isEmpty()) {
            out << QString();
            continue;
        }
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            out << paragraph.mid(line.textStart(), line.textLength()).trimmed();
        }
        layout.endLayout();
    }
    if (out.isEmpty()) out << QString();
    return out;
}

// The end of the chart's scale: the least of 1, 1.2, 1.6, 2, 2.4, 3, 4, 5, 6, 8 times a power of ten that
// reaches value, so that its quarters (the grid lines) are round numbers.
double niceCeiling(double value) {
    if (value <= 0) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(value)));
    for (double step : {1.0, 1.2, 1.6, 2.0, 2.4, 3.0, 4.0, 5.0, 6.0, 8.0, 10.0})
        if (step * power >= value * (1 - 1e-12)) return step * power;
    return 10 * power;
}

bool whole(double v) {
    return std::abs(v - std::round(v)) < 1e-9;
}

}  // namespace

QString SummaryNumber(double value, int decimals) {
    if (std::abs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0;  // no "-0.00"
    return QLocale().toString(value, 'f', decimals);
}

// ---- Layout ----

class SummaryLayout {
  public:
    SummaryLayout(SummaryDocument& doc, const BidSummary& s) : doc_(doc), s_(s) {}

    void run() {
        newPage();
        title();
        for (const SummarySection& section : s_.sections) fields(section);
        strategy();
        services();
        chart();
        shipments();
        completeness();
        headersAndFooters();
    }

  private:
    struct Column {
        QString title;
        double width;
        Qt::Alignment align;
    };
    enum class RowStyle { Normal, Group, Total };

    std::vector<Item>& page() { return doc_.pages_.back(); }

    void newPage() {
        doc_.pages_.emplace_back();
        y_ = kTop;
        onNewPage_ = nullptr;
    }
    // Room for h more below; a new page otherwise (repeating a table's headings).
    void need(double h) {
        if (y_ + h <= kBottom || y_ == kTop) return;
        newPage();
        if (onNewPage_) {
            auto again = onNewPage_;
            again();
            onNewPage_ = again;
        }
    }

    void text(const QRectF& r, const QString& t, Font f, const QColor& color = kInk,
              Qt::Alignment align = Qt::AlignLeft | Qt::AlignVCenter) {
        Item i;
        i.kind = Item::Text;
        i.rect = r;
        i.text = t;
        i.font = f;
        i.color = color;
        i.align = align;
        page().push_back(std::move(i));
    }
    void box(const QRectF& r, const QColor& fill) {
        Item i;
        i.kind = Item::Box;
        i.rect = r;
        i.color = fill;
        page().push_back(std::move(i));
    }
    void rule(double at, const QColor& color = kRule, double thickness = 6) {
        box(QRectF(kLeft, at, kWidth, thickness), color);
    }

    // Lines of wrapped text from the left margin (indented by indent), page by page.
    void paragraph(const QString& t, Font f, const QColor& color = kInk, double indent = 0) {
        const double h = lineHeight(f);
        for (const QString& line : wrap(t, f, kWidth - indent)) {
            need(h);
            text(QRectF(kLeft + indent, y_, kWidth - indent, h), line, f, color);
            y_ += h;
        }
    }

    void heading(const QString& t) {
        onNewPage_ = nullptr;
        y_ += 50;
        need(lineHeight(Font::Heading) + 3 * lineHeight(Font::Body));
        headingLine(t);
    }
    void headingLine(const QString& t) {
        text(QRectF(kLeft, y_, kWidth, lineHeight(Font::Heading)), t, Font::Heading, kInk);
        y_ += lineHeight(Font::Heading);
        rule(y_ - 15);
        y_ += 30;
    }

    void title() {
        text(QRectF(kLeft, y_, kWidth, lineHeight(Font::Title)), QStringLiteral("Bid Summary"), Font::Title);
        y_ += lineHeight(Font::Title);
        if (!s_.company.trimmed().isEmpty()) paragraph(s_.company.trimmed(), Font::Heading, kMuted);
    }

    // The fields two by two, label and value side by side; a field whose label or value does not fit on
    // one line of half the width takes a row of its own, all of the width.
    void fields(const SummarySection& section) {
        heading(section.title);
        constexpr double gap = 240;
        constexpr double valueGap = 60;
        const double column = (kWidth - gap) / 2;
        const double labelWidth = column * 0.5;
        const double valueWidth = column - labelWidth - valueGap;
        const double h = lineHeight(Font::Body);
        auto fitsHalf = [&](const SummaryField& f) {
            return wrap(f.label, Font::Label, labelWidth).size() == 1 &&
                   wrap(f.value, Font::Body, valueWidth).size() == 1;
        };
        // One row: one or two fields, each with its label width and value width.
        auto row = [&](const std::vector<const SummaryField*>& cells, double label, double value,
                       double pitch) {
            std::vector<QStringList> labels, values;
            int lines = 1;
            for (const SummaryField* f : cells) {
                labels.push_back(wrap(f->label, Font::Label, label));
                values.push_back(wrap(f->value, Font::Body, value));
                lines = std::max({lines, int(labels.back().size()), int(values.back().size())});
            }
            need(lines * h);
            for (size_t k = 0; k < cells.size(); ++k) {
                const double x = kLeft + static_cast<double>(k) * pitch;
                for (int n = 0; n < labels[k].size(); ++n)
                    text(QRectF(x, y_ + n * h, label, h), labels[k][n], Font::Label, kMuted);
                for (int n = 0; n < values[k].size(); ++n)
                    text(QRectF(x + label + valueGap, y_ + n * h, value, h), values[k][n], Font::Body);
            }
            y_ += lines * h + 12;
        };
        const SummaryField* pending = nullptr;
        for (const SummaryField& f : section.fields) {
            if (fitsHalf(f)) {
                if (pending) {
                    row({pending, &f}, labelWidth, valueWidth, column + gap);
                    pending = nullptr;
                } else {
                    pending = &f;
                }
                continue;
            }
            if (pending) row({pending}, labelWidth, valueWidth, 0);
            pending = nullptr;
            // The value starts at the value column of the left half, or of the right half when the label
            // needs the room, and runs to the right margin.
            const double wideLabel =
                wrap(f.label, Font::Label, labelWidth).size() == 1 ? labelWidth : column + gap + labelWidth;
            row({&f}, wideLabel, kWidth - wideLabel - valueGap, 0);
        }
        if (pending) row({pending}, labelWidth, valueWidth, 0);
    }

    void strategy() {
        if (s_.salesStrategy.trimmed().isEmpty()) return;
        y_ += 40;
        need(2 * lineHeight(Font::Body));
        text(QRectF(kLeft, y_, kWidth, lineHeight(Font::Label)), QStringLiteral("Sales strategy"),
             Font::Label, kMuted);
        y_ += lineHeight(Font::Label);
        paragraph(s_.salesStrategy, Font::Body, kInk, 120);
    }

    void table(const std::vector<Column>& columns, const std::vector<QStringList>& rows,
               const std::vector<RowStyle>& styles) {
        const double h = lineHeight(Font::Body);
        auto header = [this, columns, h] {
            box(QRectF(kLeft, y_, kWidth, h + 30), kShade);
            double x = kLeft;
            for (const Column& c : columns) {
                text(QRectF(x + kCellPad, y_ + 15, c.width - 2 * kCellPad, h), c.title, Font::Bold, kInk,
                     c.align);
                x += c.width;
            }
            y_ += h + 30;
        };
        need(h + 30 + 2 * h);
        header();
        onNewPage_ = header;
        for (size_t r = 0; r < rows.size(); ++r) {
            const RowStyle style = r < styles.size() ? styles[r] : RowStyle::Normal;
            const Font f = style == RowStyle::Normal ? Font::Body : Font::Bold;
            std::vector<QStringList> cells;
            int lines = 1;
            for (size_t c = 0; c < columns.size(); ++c) {
                const QString t = c < size_t(rows[r].size()) ? rows[r][int(c)] : QString();
                // A group heading spans the whole row.
                const double w = style == RowStyle::Group && c == 0 ? kWidth : columns[c].width;
                cells.push_back(style == RowStyle::Group && c > 0 ? QStringList{}
                                                                  : wrap(t, f, w - 2 * kCellPad));
                lines = std::max(lines, int(cells.back().size()));
            }
            need(lines * h + 20);
            if (style == RowStyle::Total) rule(y_, kRule, 5);
            double x = kLeft;
            for (size_t c = 0; c < columns.size(); ++c) {
                const double w = style == RowStyle::Group && c == 0 ? kWidth : columns[c].width;
                const QColor color = style == RowStyle::Group ? kMuted : kInk;
                for (int n = 0; n < cells[c].size(); ++n)
                    text(QRectF(x + kCellPad, y_ + 10 + n * h, w - 2 * kCellPad, h), cells[c][n], f, color,
                         style == RowStyle::Group ? Qt::AlignLeft | Qt::AlignVCenter : columns[c].align);
                x += columns[c].width;
            }
            y_ += lines * h + 20;
        }
        onNewPage_ = nullptr;
        y_ += 30;
    }

    void services() {
        heading(QStringLiteral("Services and weekly volumes"));
        if (s_.services.empty()) {
            paragraph(QStringLiteral("No weekly volume and no Primary? mark has been keyed."), Font::Body,
                      kMuted);
            return;
        }
        const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
        const Qt::Alignment centre = Qt::AlignHCenter | Qt::AlignVCenter;
        const std::vector<Column> columns = {
            {QStringLiteral("Service"), kWidth - 4 * 900, Qt::AlignLeft | Qt::AlignVCenter},
            {QStringLiteral("Other Volume"), 900, right},
            {QStringLiteral("Bidding On"), 900, right},
            {QStringLiteral("Total Volume"), 900, right},
            {QStringLiteral("Primary?"), 900, centre}};
        std::vector<QStringList> rows;
        std::vector<RowStyle> styles;
        QString group;
        bool first = true;
        for (const ServiceVolume& v : s_.services) {
            if (first || v.group != group) {
                group = v.group;
                first = false;
                if (!group.isEmpty()) {
                    rows.push_back({group});
                    styles.push_back(RowStyle::Group);
                }
            }
            rows.push_back({v.description, v.otherVolume, v.biddingOn, v.totalVolume,
                            v.primary ? QStringLiteral("Yes") : QString()});
            styles.push_back(RowStyle::Normal);
        }
        table(columns, rows, styles);
    }

    void chart() {
        std::vector<const ServiceVolume*> bars;
        for (const ServiceVolume& v : s_.services)
            if (v.weekly() > 0) bars.push_back(&v);
        if (bars.empty()) return;
        std::stable_sort(bars.begin(), bars.end(), [](const ServiceVolume* a, const ServiceVolume* b) {
            return a->weekly() > b->weekly();
        });
        bool allWhole = true;
        double top = 0;
        for (const ServiceVolume* v : bars) {
            allWhole = allWhole && whole(v->other) && whole(v->bidding);
            top = std::max(top, v->weekly());
        }
        const int decimals = allWhole ? 0 : 2;
        const double scaleMax = niceCeiling(top);

        constexpr double pitch = 125;
        constexpr double barHeight = 85;
        constexpr double labelWidth = 1600;
        constexpr double valueWidth = 620;
        const double axis = lineHeight(Font::Small) + 30;
        const double height = lineHeight(Font::Heading) + 30 + double(bars.size()) * pitch + axis;
        y_ += 50;
        need(height);
        onNewPage_ = nullptr;
        // The legend sits at the right end of the heading's line.
        const double x0 = kLeft + labelWidth;
        const double x1 = kRight - valueWidth;
        const double lh = lineHeight(Font::Small);
        const double legendY = y_ + (lineHeight(Font::Heading) - lh) / 2;
        box(QRectF(kRight - 2100, legendY + 20, 100, 60), kBidding);
        text(QRectF(kRight - 1960, legendY, 900, lh), QStringLiteral("Bidding On"), Font::Small, kMuted);
        box(QRectF(kRight - 1000, legendY + 20, 100, 60), kOther);
        text(QRectF(kRight - 860, legendY, 860, lh), QStringLiteral("Other Volume"), Font::Small, kMuted);
        headingLine(QStringLiteral("Weekly volume by service"));

        const double barsTop = y_;
        const double barsBottom = y_ + double(bars.size()) * pitch;
        // Grid lines and their values below the bars.
        for (int k = 0; k <= 4; ++k) {
            const double x = x0 + (x1 - x0) * k / 4.0;
            box(QRectF(x - 2, barsTop, 4, barsBottom - barsTop), kGrid);
            const double v = scaleMax * k / 4.0;
            text(QRectF(x - 400, barsBottom + 20, 800, lh), SummaryNumber(v, whole(v) ? 0 : 2), Font::Small,
                 kMuted, Qt::AlignHCenter | Qt::AlignVCenter);
        }
        const QFontMetricsF labels(fontOf(Font::Label));
        doc_.chartBars_.clear();
        for (size_t i = 0; i < bars.size(); ++i) {
            const ServiceVolume& v = *bars[i];
            const double y = barsTop + double(i) * pitch + (pitch - barHeight) / 2;
            text(QRectF(kLeft, y - 20, labelWidth - 80, barHeight + 40),
                 labels.elidedText(v.description, Qt::ElideRight, labelWidth - 80), Font::Label, kInk,
                 Qt::AlignRight | Qt::AlignVCenter);
            const double biddingWidth = (x1 - x0) * std::max(0.0, v.bidding) / scaleMax;
            const double otherWidth = (x1 - x0) * std::max(0.0, v.other) / scaleMax;
            if (biddingWidth > 0) box(QRectF(x0, y, biddingWidth, barHeight), kBidding);
            if (otherWidth > 0) box(QRectF(x0 + biddingWidth, y, otherWidth, barHeight), kOther);
            text(QRectF(x0 + biddingWidth + otherWidth + 60, y - 20, valueWidth + (x1 - x0), barHeight + 40),
                 SummaryNumber(v.weekly(), decimals), Font::Small, kInk);
            doc_.chartBars_.emplace_back(v.description, v.weekly());
        }
        doc_.chartPage_ = static_cast<int>(doc_.pages_.size()) - 1;
        doc_.chartArea_ = QRectF(x0, barsTop, x1 - x0, barsBottom - barsTop);
        y_ = barsBottom + axis + 30;
    }

    QStringList totalsRow(const ShipmentTotals& t, const QString& key) {
        return {key,
                SummaryNumber(t.lines, 0),
                SummaryNumber(t.pieces, 0),
                SummaryNumber(t.weight, 2),
                SummaryNumber(t.competitorRate, 2),
                SummaryNumber(t.competitorTotal, 2)};
    }

    void totalsTable(const QString& keyTitle, const std::vector<ShipmentTotals>& groups,
                     const QString& none) {
        const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
        const std::vector<Column> columns = {{keyTitle, kWidth - 5 * 760, Qt::AlignLeft | Qt::AlignVCenter},
                                             {QStringLiteral("Lines"), 760, right},
                                             {QStringLiteral("TotPcs"), 760, right},
                                             {QStringLiteral("TotWgt"), 760, right},
                                             {QStringLiteral("Cmp Rate$"), 760, right},
                                             {QStringLiteral("Tot Cmp $"), 760, right}};
        std::vector<QStringList> rows;
        std::vector<RowStyle> styles;
        for (const ShipmentTotals& t : groups) {
            rows.push_back(totalsRow(t, t.key.isEmpty() ? none : t.key));
            styles.push_back(RowStyle::Normal);
        }
        rows.push_back(totalsRow(s_.allLines, QStringLiteral("All lines")));
        styles.push_back(RowStyle::Total);
        table(columns, rows, styles);
    }

    void shipments() {
        heading(QStringLiteral("Shipment lines"));
        if (s_.allLines.lines == 0) {
            paragraph(QStringLiteral("No shipment lines have been keyed."), Font::Body, kMuted);
            return;
        }
        paragraph(QStringLiteral("%1 shipment lines: %2 pieces, total weight %3, competitor rates %4, total "
                                 "competitor charges %5.")
                      .arg(SummaryNumber(s_.allLines.lines, 0), SummaryNumber(s_.allLines.pieces, 0),
                           SummaryNumber(s_.allLines.weight, 2), SummaryNumber(s_.allLines.competitorRate, 2),
                           SummaryNumber(s_.allLines.competitorTotal, 2)),
                  Font::Body);
        y_ += 60;
        subheading(QStringLiteral("By service"));
        totalsTable(QStringLiteral("Service"), s_.byService, QStringLiteral("(no service)"));
        subheading(QStringLiteral("By country"));
        totalsTable(QStringLiteral("Cnty Cd"), s_.byCountry, QStringLiteral("(no country)"));

        subheading(s_.heaviest.size() == 1 ? QStringLiteral("The heaviest line")
                                           : QStringLiteral("The %1 heaviest lines").arg(s_.heaviest.size()));
        const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
        const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter;
        const std::vector<Column> columns = {{QStringLiteral("Line"), 520, right},
                                             {QStringLiteral("Service"), kWidth - 520 - 4 * 720 - 880, left},
                                             {QStringLiteral("TotPcs"), 720, right},
                                             {QStringLiteral("TotWgt"), 720, right},
                                             {QStringLiteral("Postal/Zip"), 880, left},
                                             {QStringLiteral("Cnty Cd"), 720, left},
                                             {QStringLiteral("Tot Cmp $"), 720, right}};
        std::vector<QStringList> rows;
        for (const ShipmentLineSummary& l : s_.heaviest)
            rows.push_back({QStringLiteral("#%1").arg(l.line), l.service, SummaryNumber(l.pieces, 0),
                            SummaryNumber(l.weight, 2), l.postal, l.country,
                            SummaryNumber(l.competitorTotal, 2)});
        table(columns, rows, {});
    }

    void subheading(const QString& t) {
        y_ += 30;
        need(lineHeight(Font::Bold) + 4 * lineHeight(Font::Body));
        text(QRectF(kLeft, y_, kWidth, lineHeight(Font::Bold)), t, Font::Bold, kMuted);
        y_ += lineHeight(Font::Bold) + 20;
    }

    void completeness() {
        heading(QStringLiteral("Completeness check"));
        if (s_.problems.empty()) {
            paragraph(QStringLiteral("Result: ready to submit"), Font::Bold, kReady);
            return;
        }
        paragraph(s_.problems.size() == 1
                      ? QStringLiteral("Result: 1 item to fix before the bid can be submitted")
                      : QStringLiteral("Result: %1 items to fix before the bid can be submitted")
                            .arg(s_.problems.size()),
                  Font::Bold, kProblem);
        y_ += 40;
        const std::vector<Column> columns = {
            {QStringLiteral("Page"), 1300, Qt::AlignLeft | Qt::AlignVCenter},
            {QStringLiteral("To fix"), kWidth - 1300, Qt::AlignLeft | Qt::AlignVCenter}};
        std::vector<QStringList> rows;
        for (const SummaryProblem& p : s_.problems) {
            QString message = p.message;
            message.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
            QStringList lines = message.split(QLatin1Char('\n'));
            if (lines.size() > kMessageLines) {
                const qsizetype more = lines.size() - kMessageLines;
                lines = lines.mid(0, kMessageLines);
                lines << QStringLiteral("(and %1 more lines of this message)").arg(more);
            }
            rows.push_back({p.page, lines.join(QLatin1Char('\n'))});
        }
        table(columns, rows, {});
    }

    void headersAndFooters() {
        const int count = static_cast<int>(doc_.pages_.size());
        const QDateTime at = s_.printedAt;
        const QString printed = QStringLiteral("Printed %1 %2")
                                    .arg(dateToText(at.date()), at.time().toString(QStringLiteral("HH:mm")));
        const double lh = lineHeight(Font::Small);
        for (int p = 0; p < count; ++p) {
            doc_.pages_[size_t(p)].push_back(Item{Item::Text, QRectF(kLeft, kHeaderTop, kWidth / 2, lh),
                                                  QStringLiteral("Incentive Model \u2013 Bid Summary"),
                                                  Font::Small, Qt::AlignLeft | Qt::AlignVCenter, kMuted});
            doc_.pages_[size_t(p)].push_back(
                Item{Item::Text, QRectF(kLeft + kWidth / 2, kHeaderTop, kWidth / 2, lh), s_.bidId.trimmed(),
                     Font::Small, Qt::AlignRight | Qt::AlignVCenter, kMuted});
            doc_.pages_[size_t(p)].push_back(Item{Item::Box,
                                                  QRectF(kLeft, kHeaderTop + lh + 20, kWidth, 4),
                                                  QString(),
                                                  Font::Small,
                                                  {},
                                                  kRule});
            doc_.pages_[size_t(p)].push_back(Item{
                Item::Box, QRectF(kLeft, kFooterTop - 30, kWidth, 4), QString(), Font::Small, {}, kRule});
            doc_.pages_[size_t(p)].push_back(Item{Item::Text, QRectF(kLeft, kFooterTop, kWidth / 2, lh),
                                                  printed, Font::Small, Qt::AlignLeft | Qt::AlignVCenter,
                                                  kMuted});
            doc_.pages_[size_t(p)].push_back(Item{Item::Text,
                                                  QRectF(kLeft + kWidth / 2, kFooterTop, kWidth / 2, lh),
                                                  QStringLiteral("Page %1 of %2").arg(p + 1).arg(count),
                                                  Font::Small, Qt::AlignRight | Qt::AlignVCenter, kMuted});
        }
    }

    SummaryDocument& doc_;
    const BidSummary& s_;
    double y_ = kTop;
    std::function<void()> onNewPage_;
};

// ---- Document ----

SummaryDocument::SummaryDocument(const BidSummary& summary) {
    SummaryLayout(*this, summary).run();
}

QPageLayout SummaryDocument::pageLayout() {
    return QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0));
}

void SummaryDocument::paintPage(QPainter& painter, int page, double dotsPerInch) const {
    if (page < 0 || page >= pageCount()) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const double scale = dotsPerInch / 720.0;  // tenths of a point to dots
    painter.scale(scale, scale);
    Font current = Font::Body;
    bool fontSet = false;
    for (const Item& i : pages_[size_t(page)]) {
        if (i.kind == Item::Box) {
            painter.fillRect(i.rect, i.color);
            continue;
        }
        if (i.text.isEmpty()) continue;
        if (!fontSet || i.font != current) {
            painter.setFont(fontOf(i.font));
            current = i.font;
            fontSet = true;
        }
        painter.setPen(i.color);
        painter.drawText(i.rect, int(i.align) | Qt::TextSingleLine | Qt::TextDontClip, i.text);
    }
    painter.restore();
}

bool SummaryDocument::paint(QPagedPaintDevice& device, int first, int last) const {
    first = std::max(first, 0);
    last = std::min(last, pageCount() - 1);
    QPainter painter;
    if (!painter.begin(&device)) return false;
    const double dpi = device.logicalDpiX();
    for (int p = first; p <= last; ++p) {
        if (p > first && !device.newPage()) {
            painter.end();
            return false;
        }
        paintPage(painter, p, dpi);
    }
    return painter.end();
}

bool SummaryDocument::writePdf(const QString& path) const {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    {
        QPdfWriter writer(&file);
        writer.setPageLayout(pageLayout());
        writer.setResolution(720);
        writer.setCreator(QStringLiteral("Tarvik v2012.1.0"));
        writer.setTitle(QStringLiteral("Bid Summary"));
        if (!paint(writer, 0, pageCount() - 1)) {
            file.cancelWriting();
            return false;
        }
    }
    return file.commit();
}

QImage SummaryDocument::pageImage(int page, double dotsPerInch) const {
    const QSize size(qRound(kPageWidth * dotsPerInch / 720.0), qRound(kPageHeight * dotsPerInch / 720.0));
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintPage(painter, page, dotsPerInch);
    return image;
}

}  // namespace tarvik
