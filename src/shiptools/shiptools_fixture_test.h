// Shared set-up of the shipment tool tests: a main window with the bid ID edit, the MOB box and the
// Shipment Data page; POSTAL and USZIP tables in a temporary data folder; a progress window like the
// application's; workbooks written by xlwt under Debian's Python.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <memory>

#include "pages/shipmentpage.h"
#include "shiptools/importdata.h"
#include "tableaccess/tableaccess.h"
#include "tableaccess/xbase/dbf.h"
#include "testsupport/scriptedprompt.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik::test {

using P = ShipmentPage;

// A progress window with the labels of the application's: a double click asks "Abort Import?" and
// Yes sets the abort request.
struct ProgressSeen {
    QString caption;  // when shown
    QString label1;   // when shown
    QString label2;   // when closed
};

class TestProgressWindow : public QDialog {
public:
    TestProgressWindow(MainState& state, QWidget* owner, ProgressSeen* seen = nullptr)
        : QDialog(owner), state_(state), seen_(seen) {
        setWindowTitle(QStringLiteral("Importing..."));
        auto* l1 = new QLabel(QStringLiteral("Importing Information, Please Wait..."), this);
        l1->setObjectName(QStringLiteral("Label1"));
        l1->setGeometry(16, 22, 288, 44);
        auto* l2 = new QLabel(this);
        l2->setObjectName(QStringLiteral("Label2"));
        l2->setGeometry(16, 74, 288, 18);
    }
    ~TestProgressWindow() override {
        if (seen_) seen_->label2 = findChild<QLabel*>(QStringLiteral("Label2"))->text();
    }
    QString shownCaption;
    QString shownLabel1;

protected:
    void showEvent(QShowEvent* e) override {
        shownCaption = windowTitle();
        shownLabel1 = findChild<QLabel*>(QStringLiteral("Label1"))->text();
        if (seen_) {
            seen_->caption = shownCaption;
            seen_->label1 = shownLabel1;
        }
        QDialog::showEvent(e);
    }
    void mouseDoubleClickEvent(QMouseEvent*) override {
        if (messageBox(QStringLiteral("Abort Import?"), QStringLiteral("Shipment Data Import"), PromptIcon::Question,
                       Yes | No) == Yes)
            state_.FImportAbort = true;
    }

private:
    MainState& state_;
    ProgressSeen* seen_;
};

// Creates table name in folder with one character field per entry, fills it through the table
// facade and indexes it on its first field with tag.
inline void makeCodeTable(ta::DataContext ctx, const QString& folder, const QString& name,
                          const std::vector<std::pair<std::string, int>>& fields, const QString& tag,
                          const std::vector<QStringList>& records) {
    std::vector<xb::NewField> nf;
    for (const auto& f : fields) nf.push_back({f.first, 'C', static_cast<uint16_t>(f.second), 0, 0});
    std::string error;
    {
        auto t = xb::Table::create((folder + "/" + name + ".dbf").toStdString(), nf, xb::Format::Fox2, 0x03, error);
        ASSERT_TRUE(t) << error;
    }
    const QString path = folder + "/" + name;
    const int t = ta::mOpen(ctx, path);
    ASSERT_GT(t, 0);
    for (const QStringList& rec : records) {
        ASSERT_EQ(ta::d4appendBlank(t), 0);
        for (int i = 0; i < rec.size(); ++i) ta::replace(t, QString::fromStdString(fields[i].first), rec[i]);
    }
    ta::d4close(t);
    ASSERT_EQ(ta::CreateIndex(ctx, path, {{tag, QString::fromStdString(fields[0].first), "", 0, 0}, {}}), 0);
}

// A cell of a workbook: text, a number, a date (QDate) or nothing (invalid QVariant).
using Sheet = std::vector<std::vector<QVariant>>;

// Writes sheet as the first worksheet of an .xls file with xlwt; a second sheet "Other" with "not me"
// in A1 follows, so that reading the first sheet is seen to be the rule.
inline bool writeWorkbook(const QString& path, const Sheet& sheet, QString* error = nullptr) {
    QJsonArray rows;
    for (const auto& row : sheet) {
        QJsonArray cells;
        for (const QVariant& v : row) {
            if (!v.isValid()) cells.append(QJsonValue());
            else if (v.typeId() == QMetaType::QDate)
                cells.append(QJsonObject{{"date", v.toDate().toString(Qt::ISODate)}});
            else if (v.typeId() == QMetaType::QString) cells.append(v.toString());
            else cells.append(v.toDouble());
        }
        rows.append(cells);
    }
    const QString json = path + ".json";
    {
        QFile f(json);
        if (!f.open(QIODevice::WriteOnly)) return false;
        f.write(QJsonDocument(rows).toJson(QJsonDocument::Compact));
    }
    static const char* script = R"(
import sys, json, datetime, xlwt
rows = json.load(open(sys.argv[1]))
wb = xlwt.Workbook()
ws = wb.add_sheet('Shipments')
datefmt = xlwt.easyxf(num_format_str='YYYY-MM-DD')
for r, row in enumerate(rows):
    for c, v in enumerate(row):
        if v is None:
            continue
        if isinstance(v, dict):
            ws.write(r, c, datetime.datetime.strptime(v['date'], '%Y-%m-%d'), datefmt)
        elif isinstance(v, float) and v.is_integer() and abs(v) < 1e9:
            ws.write(r, c, int(v))
        else:
            ws.write(r, c, v)
other = wb.add_sheet('Other')
other.write(0, 0, 'not me')
wb.save(sys.argv[2])
)";
    QProcess py;
    py.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(script), json, path});
    const bool ok = py.waitForFinished(600000) && py.exitStatus() == QProcess::NormalExit && py.exitCode() == 0;
    if (!ok && error) *error = QString::fromLocal8Bit(py.readAllStandardError());
    QFile::remove(json);
    return ok;
}

inline void writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class ShipToolsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        state_.FProgramFolder = dir_.path();
        state_.FDataFolder = dir_.path() + "/data";
        QDir().mkpath(state_.FDataFolder);
        state_.DataContext = ta::OpenData();
        makeCodeTable(state_.DataContext, state_.FDataFolder, "POSTAL", {{"POSTAL_COD", 6}, {"TOWN", 30}}, "POSTAL",
                      {{"K1A0B1", "OTTAWA"}, {"H2X***", "MONTREAL"}, {"M5V3L9", "TORONTO"}});
        makeCodeTable(state_.DataContext, state_.FDataFolder, "USZIP", {{"ZIP_CODE", 5}}, "ZIP_CODE",
                      {{"10001"}, {"90210"}});

        window_ = std::make_unique<QWidget>();
        window_->setObjectName("TestMainWindow");
        auto* layout = new QVBoxLayout(window_.get());
        bidId_ = new QLineEdit(QStringLiteral("ABELL0607120000"), window_.get());
        bidId_->setObjectName("ebxLocalBidID");
        mob_ = new QCheckBox(QStringLiteral("MOB"), window_.get());
        mob_->setObjectName("chbMOB");
        page_ = new ShipmentPage(state_, window_.get());
        QObject::connect(mob_, &QCheckBox::toggled, page_, &ShipmentPage::showFromPostColumn);
        layout->addWidget(bidId_);
        layout->addWidget(mob_);
        layout->addWidget(page_);
        window_->resize(1000, 700);
        window_->show();
        window_->activateWindow();
        QApplication::setActiveWindow(window_.get());
        grid_ = page_->shipmentGrid();

        importer_ = std::make_unique<ShipmentImport>(state_, *page_, window_.get());
        importer_->makeProgressWindow = [this](QWidget* owner) {
            auto w = std::make_unique<TestProgressWindow>(state_, owner, &seen_);
            progress_ = w.get();
            ++progressMade_;
            return std::unique_ptr<QDialog>(std::move(w));
        };
        ShipmentImport::setStartFolder(QString());
    }

    void TearDown() override {
        importer_.reset();
        window_.reset();
        ta::CloseData(state_.DataContext);
    }

    QString path(const QString& name) const { return dir_.path() + "/" + name; }

    // Fills columns 1.. of a line.
    void setLine(int line, const QStringList& cells) {
        while (grid_->rowCount() <= line) page_->appendLine();
        for (int i = 0; i < cells.size(); ++i) grid_->setCell(i + 1, line, cells[i]);
    }
    QStringList line(int row) const {
        QStringList cells;
        for (int c = 1; c < P::ColumnCount; ++c) cells << grid_->cell(c, row);
        return cells;
    }
    // Every cell of the grid, labels included.
    std::vector<QStringList> snapshot() const {
        std::vector<QStringList> all;
        for (int r = 0; r < grid_->rowCount(); ++r) {
            QStringList row;
            for (int c = 0; c < grid_->colCount(); ++c) row << grid_->cell(c, r);
            all.push_back(row);
        }
        return all;
    }
    int filledLines() const {
        int n = 0;
        for (int r = 1; r <= page_->lastLine(); ++r) n += page_->lineIsEmpty(r) ? 0 : 1;
        return n;
    }

    QTemporaryDir dir_;
    MainState state_;
    std::unique_ptr<QWidget> window_;
    QLineEdit* bidId_ = nullptr;
    QCheckBox* mob_ = nullptr;
    ShipmentPage* page_ = nullptr;
    StringGrid* grid_ = nullptr;
    std::unique_ptr<ShipmentImport> importer_;
    QPointer<TestProgressWindow> progress_;
    int progressMade_ = 0;
    ProgressSeen seen_;
};

}  // namespace tarvik::test
