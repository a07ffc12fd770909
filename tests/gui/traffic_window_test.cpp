#include <gtest/gtest.h>

#include <QDir>
#include <QHeaderView>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <fstream>

#include "app/traffic_window.h"
#include "modbus/frame_trace.h"
#include "registers/register_operations.h"
#include "sim/simulator.h"
#include "tests/gui/gui_test_support.h"
#include "tests/support/tshark.h"

namespace fc::test {
namespace {

class TrafficWindowTest : public MainDialogTest {
  protected:
    // A session with the simulated unit over Modbus TCP: the probe, a value
    // read, the loader's sector number written, a block read.
    void TalkToTheUnit() {
        sim::SimulatorOptions options;
        options.tcp_port = 0;
        sim::Simulator unit(options);
        std::string error;
        ASSERT_TRUE(unit.Start(&error)) << error;
        settings_.UseIP = true;
        settings_.IPAddress = "127.0.0.1";
        settings_.IPPort = static_cast<uint16_t>(unit.ModbusTcpPort());
        settings_.Timeout = 2;
        settings_.Retry = 0;
        ASSERT_TRUE(WithRegisterConnection(master_, [&] {
            int value = 0;
            uint8_t block[8] = {};
            return master_.ReadRegister16(100, value) && master_.WriteRegister16(2651, 3) &&
                   master_.ReadRegisterBlock(20000, block, 4);
        }));
    }

    TrafficWindow& Window() { return dialog_.Traffic(); }
    QString Cell(int row, int column) {
        return Window().Model().index(row, column).data().toString();
    }
};

TEST_F(TrafficWindowTest, CtrlTOpensItBesideTheMainWindow) {
    EXPECT_FALSE(Window().isVisible());
    QTest::keyClick(&dialog_, Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(Window().isVisible());
    EXPECT_FALSE(Window().isModal());
    EXPECT_TRUE(dialog_.isEnabled());
}

// The window was watching before it was opened; each line is the trace's.
TEST_F(TrafficWindowTest, ListsEveryFrameWithTimeDirectionBytesAndMeaning) {
    TalkToTheUnit();
    const auto& frames = Window().Model().Frames();
    ASSERT_GE(frames.size(), 8u);
    const int last = static_cast<int>(frames.size()) - 1;
    EXPECT_TRUE(QRegularExpression(R"(^\d\d:\d\d:\d\d\.\d{3}$)").match(Cell(0, 0)).hasMatch());
    EXPECT_EQ(Cell(last - 1, TrafficModel::kDirection), "Sent");
    EXPECT_EQ(Cell(last, TrafficModel::kDirection), "Received");
    EXPECT_EQ(Cell(last - 1, TrafficModel::kFrame), "00 04 00 00 00 06 01 03 4E 20 00 04");
    EXPECT_EQ(Cell(last - 1, TrafficModel::kMeaning).toStdString(),
              "transaction 4, length 6, unit 1, read holding registers at 20000 (sector buffer), "
              "count 4");
    EXPECT_EQ(Cell(last - 3, TrafficModel::kMeaning).toStdString(),
              "transaction 3, length 9, unit 1, write registers at 2651 (sector number = 3), "
              "count 1, 2 data bytes");
}

// The oldest frames make way; Pause keeps nothing until Resume; Clear empties.
TEST_F(TrafficWindowTest, KeepsTheLastTenThousandFramesWhileNotPaused) {
    TrafficFrame frame;
    frame.wire = {1, 3, 0, 0, 0, 1};
    for (int i = 0; i < 10005; ++i) {
        frame.wire[3] = static_cast<uint8_t>(i);
        master_.OnTraffic.Notify(frame);
    }
    const auto& frames = Window().Model().Frames();
    ASSERT_EQ(frames.size(), TrafficWindow::kFrameLimit);
    EXPECT_EQ(frames.front().wire[3], 5);
    Window().Clear();
    Window().PauseButton()->click();
    EXPECT_EQ(Window().PauseButton()->text(), "&Resume");
    master_.OnTraffic.Notify(frame);
    EXPECT_EQ(Window().Model().rowCount(), 0);
    Window().PauseButton()->click();
    master_.OnTraffic.Notify(frame);
    EXPECT_EQ(Window().Model().rowCount(), 1);
}

TEST_F(TrafficWindowTest, SavesTheTraceLinesAndACaptureThatTsharkReads) {
    TalkToTheUnit();
    const auto& frames = Window().Model().Frames();
    const QString text = QString::fromStdString(dir_.File("traffic.txt"));
    const QString capture = QString::fromStdString(dir_.File("traffic.pcap"));
    Window().SetPathChooser([&](const QString&, const QString& filter, auto use) {
        use(filter.contains("pcap") ? capture : text);
    });
    for (QPushButton* button : Window().findChildren<QPushButton*>())
        if (button->text().startsWith("Save"))
            button->click();

    std::ifstream saved(text.toStdString());
    std::string line;
    for (const TrafficFrame& frame : frames) {
        ASSERT_TRUE(std::getline(saved, line));
        EXPECT_EQ(line, TraceLine(frame));
    }
    const auto rows = TsharkFields(capture.toStdString(),
                                   {"-o", "mbtcp.tcp.port:" + std::to_string(settings_.IPPort)}, "",
                                   {"modbus.func_code", "modbus.reference_num"});
    ASSERT_EQ(rows.size(), frames.size());
    EXPECT_EQ(rows[rows.size() - 2], (std::vector<std::string>{"3", "20000"}));

    auto box = AnswerNextMessageBox(QMessageBox::Ok);
    EXPECT_FALSE(Window().SaveCapture(QString::fromStdString(dir_.File("none/x.pcap"))));
    EXPECT_TRUE(box->text.startsWith("Unable to write ")) << box->text.toStdString();
    EXPECT_EQ(box->caption, "fcloader");
}

// Run at 1x and again with QT_SCALE_FACTOR=2 (a ctest entry of its own): the
// rows and the buttons grow with the font, and a picture is left for a person.
TEST_F(TrafficWindowTest, ReadableAtEveryScaleWithAPicture) {
    TalkToTheUnit();
    Window().show();
    QTableView* view = Window().View();
    const int text_height = view->fontMetrics().height();
    EXPECT_GE(view->verticalHeader()->defaultSectionSize(), text_height);
    for (QPushButton* button : Window().findChildren<QPushButton*>()) {
        const QString plain = QString(button->text()).remove('&');
        EXPECT_GE(button->width(), button->fontMetrics().horizontalAdvance(plain))
            << plain.toStdString();
    }
    EXPECT_GE(view->horizontalHeader()->sectionSize(TrafficModel::kTime),
              view->fontMetrics().horizontalAdvance(Cell(0, TrafficModel::kTime)));
    const QString folder = QStringLiteral(FC_SCREENSHOT_DIR);
    ASSERT_TRUE(QDir().mkpath(folder));
    const QImage image = Window().grab().toImage();
    EXPECT_TRUE(image.save(
        folder + QStringLiteral("/traffic_window_%1x.png").arg(image.devicePixelRatio())));
}

}  // namespace
}  // namespace fc::test
