#include <gtest/gtest.h>

#include <QChart>
#include <QDir>
#include <QItemSelectionModel>
#include <QLegendMarker>
#include <QTableWidget>
#include <QTest>
#include <bit>
#include <fstream>

#include "sim/simulator.h"
#include "tests/gui/gui_test_support.h"
#include "watch/watch_window.h"

namespace fc::test {
namespace {

class WatchWindowTest : public MainDialogTest {
  protected:
    void SetUp() override {
        MainDialogTest::SetUp();
        sim::SimulatorOptions options;
        options.tcp_port = 0;
        options.registers = {{100, 41}, {7000, std::bit_cast<uint32_t>(12.5f)}};
        unit_ = std::make_unique<sim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(unit_->Start(&error)) << error;
        ASSERT_TRUE(unit_->AddFault("exception=2,every=1,addr=105", &error)) << error;
        settings_.UseIP = true;
        settings_.IPAddress = "127.0.0.1";
        settings_.IPPort = static_cast<uint16_t>(unit_->ModbusTcpPort());
        settings_.Timeout = 2;
        settings_.Retry = 0;
    }

    // Polls `count` times, the unit's values rising like a filling tank.
    void Poll(int count) {
        int polls = 0;
        const auto connection = QObject::connect(&Watch(), &WatchWindow::PollEnded, [&] {
            ++polls;
            unit_->SetRegister(100, static_cast<uint32_t>(40 + polls * polls));
            unit_->SetRegister(7000, std::bit_cast<uint32_t>(12.5f + 3.0f * (polls % 5)));
        });
        Watch().SetIntervalMs(100);
        Watch().Start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return polls >= count; }, 10000));
        Watch().Stop();
        QObject::disconnect(connection);
    }

    WatchWindow& Watch() { return dialog_.Watch(); }
    QString Cell(int row, int column) { return Watch().Table()->item(row, column)->text(); }
    std::unique_ptr<sim::Simulator> unit_;
};

TEST_F(WatchWindowTest, CtrlShiftWOpensItAndTheListIsThereAgainNextTime) {
    EXPECT_FALSE(Watch().isVisible());
    QTest::keyClick(&dialog_, Qt::Key_W, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(Watch().isVisible());
    const std::vector<WatchRow> rows{{100, WatchType::Int16, "level"}, {7000, WatchType::Auto, ""}};
    Watch().SetRows(rows);
    EXPECT_EQ(LoadWatchSetup(profile_).Rows, rows);
}

// Two rows and a row the unit refuses: the refused one fails alone, without
// a box, while the chart and the log take the others. Run at 1x and again at
// twice the scale (a ctest entry of its own), leaving a picture of each.
TEST_F(WatchWindowTest, PollsIntoTableChartAndLogWithAPicture) {
    dialog_.OnWatch();
    Watch().SetRows({{100, WatchType::Int16, "level"},
                     {7000, WatchType::Float, "flow rate"},
                     {105, WatchType::Int16, "refused"}});
    Watch().SetSpanSeconds(60);
    const std::string csv = dir_.File("watch.csv");
    ASSERT_TRUE(Watch().StartLog(QString::fromStdString(csv)));
    const QAbstractItemModel* model = Watch().Table()->model();
    Watch().Table()->selectionModel()->select(
        QItemSelection(model->index(0, 0), model->index(1, 0)),
        QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    Poll(12);
    Watch().StopLog();

    EXPECT_EQ(Cell(0, WatchWindow::kFailed), "0");
    EXPECT_EQ(Cell(2, WatchWindow::kValue), "failed");
    EXPECT_EQ(Cell(2, WatchWindow::kFailed), QString::number(Watch().Statistics()[2].Failed));
    EXPECT_GE(Watch().Statistics()[2].Failed, 12);
    EXPECT_EQ(Cell(1, WatchWindow::kMinimum), "12.500000");
    const QList<QAbstractSeries*> series = Watch().Chart()->series();
    ASSERT_EQ(series.size(), 2);
    EXPECT_EQ(series[0]->name(), "level");
    EXPECT_EQ(series[1]->name(), "flow rate");

    std::ifstream in(csv);
    std::string header;
    std::string line;
    std::getline(in, header);
    EXPECT_EQ(header, "time,level,flow rate,refused");
    int lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        EXPECT_EQ(line.back(), ',') << "the refused row's cell stays empty: " << line;
    }
    EXPECT_GE(lines, 12);

    const QString folder = QStringLiteral(FC_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QImage image = Watch().grab().toImage();
    EXPECT_TRUE(image.save(
        folder + QStringLiteral("/watch_window_%1x.png").arg(image.devicePixelRatio())));
}

}  // namespace
}  // namespace fc::test
