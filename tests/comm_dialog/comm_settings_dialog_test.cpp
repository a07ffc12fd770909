#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <chrono>
#include <ctime>
#include <fstream>
#include <sstream>
#include <thread>

#include "connection/comm_settings_dialog.h"
#include "modbus/link_failure.h"
#include "connection/messages.h"
#include "platform/field_text.h"
#include "sim/simulator.h"
#include "tests/gui/gui_test_support.h"
#include "tests/peers/pty_peer.h"
#include "ui/main_dialog_template.h"

namespace fc::test {
namespace {

namespace id = comm_ids;

// Answers every message box that comes, in turn, until `count` have come.
std::shared_ptr<std::vector<SeenBox>> AnswerBoxes(size_t count) {
    auto seen = std::make_shared<std::vector<SeenBox>>();
    auto* timer = new QTimer(QCoreApplication::instance());
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            seen->push_back(
                {true, box->text(), box->windowTitle(), box->icon(), box->standardButtons()});
            box->button(QMessageBox::Ok)->click();
            break;
        }
        if (seen->size() >= count || ++*tries > 3000) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
    return seen;
}

// Every probe waits on the wall clock's whole seconds; starting just after
// one turns keeps a quick answer from meeting the next turn.
void StartOfASecond() {
    const std::time_t now = std::time(nullptr);
    while (std::time(nullptr) == now)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

// The main window with its "Comm Settings" button; COM n reaches `device`.
class CommSettingsDialogTest : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string device_;
    CommSettings settings_;
    LinkFlags link_;
    Profile profile_ = Profile::AtPath(dir_.File("fcloader.conf"));
    UserInterfaceRelay relay_;
    ModbusMaster master_{settings_, link_, relay_, [this](int) {
                             return device_.empty() ? std::vector<std::string>{}
                                                    : std::vector<std::string>{device_};
                         }};
    MainDialog window_{master_, profile_};

    void SetUp() override {
        relay_.SetTarget(&window_.Ui());
        settings_.Timeout = 1;
        settings_.Retry = 0;
        window_.show();
    }

    // Opens the dialog from the main window and runs the test's steps in it;
    // the steps end by closing it.
    void WithDialog(std::function<void(CommSettingsDialog&)> steps) {
        bool ran = false;
        WhenModalOpens<CommSettingsDialog>([&](CommSettingsDialog* dialog) {
            ran = true;
            steps(*dialog);
        });
        window_.ControlAs<QPushButton>(ids::kCommSettings)->click();
        EXPECT_TRUE(ran);
    }

    static QLineEdit* Edit(CommSettingsDialog& d, int control) {
        return d.ControlAs<QLineEdit>(control);
    }
    static void Click(CommSettingsDialog& d, int control) {
        d.ControlAs<QAbstractButton>(control)->click();
    }
    bool Stored(const char* key) { return profile_.Contains(settings_keys::kSection, key); }
};

QStringList Items(QComboBox* list) {
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->itemText(i);
    return items;
}

QString TextOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget))
        return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget))
        return label->text();
    if (auto* group = qobject_cast<QGroupBox*>(widget))
        return group->title();
    return {};
}

TEST_F(CommSettingsDialogTest, ShowsEveryLabelListAndCaptionAndFollowsTheCheckBox) {
    WithDialog([&](CommSettingsDialog& d) {
        EXPECT_EQ(d.windowTitle(), "Comm Settings");
        const std::vector<std::pair<int, QString>> texts = {
            {1100, "Port"},
            {1101, "Baud"},
            {1102, "Parity"},
            {1103, "Data Bits"},
            {1104, "Stop Bits"},
            {1105, "Type"},
            {id::kAutoDetect, "&Auto Detect Settings"},
            {id::kUseIP, "Use Internet Protocol"},
            {1107, "IP Address"},
            {1108, "Port"},
            {1109, "Protocol"},
            {1110, "Unit ID"},
            {1111, "Time Out (Seconds)"},
            {1112, "Retry Attemps"},
            {id::kOk, "OK"},
            {id::kCancel, "Cancel"},
            {id::kAdvancedGroup, "Advanced Options"},
            {1113, "Create Port settings report including Flow Control and Timing configuration."},
            {id::kPortReport, "Generate Full Port Report"},
        };
        for (const auto& [control, text] : texts)
            // The captions as shown; the mnemonics are the keyboard's.
            EXPECT_EQ(TextOf(d.Control(control)).remove('&'), QString(text).remove('&')) << control;
        auto list = [&](int control) { return Items(d.ControlAs<QComboBox>(control)); };
        EXPECT_EQ(list(id::kBaud), QStringList({"1200", "2400", "4800", "9600", "19200", "38400",
                                                "57600", "115200"}));
        EXPECT_EQ(list(id::kParity), QStringList({"NONE", "ODD", "EVEN"}));
        EXPECT_EQ(list(id::kDataBits), QStringList({"5", "6", "7", "8"}));
        EXPECT_EQ(list(id::kStopBits), QStringList({"1", "1.5", "2"}));
        EXPECT_EQ(list(id::kType), QStringList({"RTU", "ASCII"}));
        EXPECT_EQ(list(id::kProtocol), QStringList({"1 - ModbusTCP", "2 - TCP/IP Encapsulation"}));
        EXPECT_TRUE(d.ControlAs<QPushButton>(id::kOk)->isDefault());
        // A picture for a person to look at.
        ASSERT_TRUE(QDir().mkpath(QStringLiteral(FC_SCREENSHOT_DIR)));
        d.grab().save(QStringLiteral(FC_SCREENSHOT_DIR "/comm_settings.png"));
        EXPECT_EQ(d.ControlAs<QComboBox>(id::kBaud)->currentText(), "9600");
        EXPECT_EQ(d.ControlAs<QComboBox>(id::kDataBits)->currentText(), "8");
        EXPECT_EQ(Edit(d, id::kPort)->text(), "1");
        EXPECT_EQ(Edit(d, id::kTimeout)->text(), "1");

        // Unticked: the serial area works, the IP area does not.
        EXPECT_TRUE(d.Control(id::kBaud)->isEnabled());
        EXPECT_TRUE(d.Control(id::kAutoDetect)->isEnabled());
        EXPECT_FALSE(d.Control(id::kIPAddress)->isEnabled());
        Click(d, id::kUseIP);
        EXPECT_TRUE(settings_.UseIP);
        for (int control : {id::kPort, id::kBaud, id::kParity, id::kDataBits, id::kStopBits,
                            id::kType, id::kAutoDetect})
            EXPECT_FALSE(d.Control(control)->isEnabled()) << control;
        for (int control :
             {id::kIPAddress, id::kIPPort, id::kProtocol, id::kUnitId, id::kTimeout, id::kRetry})
            EXPECT_TRUE(d.Control(control)->isEnabled()) << control;
        Click(d, id::kCancel);
    });
    // Cancel: the click stays live, the profile keeps what it had.
    EXPECT_TRUE(settings_.UseIP);
    EXPECT_FALSE(Stored(settings_keys::kUseIP));
}

// A by-id path is longer than the list: the list keeps the whole path, and
// the picture shows both ends of it, with the scan's progress beside.
// Tab reads the fields column first, then the buttons at the right.
TEST_F(CommSettingsDialogTest, TabGoesInReadingOrder) {
    WithDialog([&](CommSettingsDialog& d) {
        std::vector<int> reached;
        QWidget* widget = d.Control(id::kPort);
        for (int i = 0; i < 12 && reached.size() < 6; ++i) {
            widget = widget->nextInFocusChain();
            if (widget->focusPolicy() & Qt::TabFocus && widget->isEnabled())
                reached.push_back(widget->objectName().mid(7).toInt());
        }
        EXPECT_EQ(reached, (std::vector<int>{id::kType, id::kPortDevice, id::kBaud, id::kParity,
                                             id::kDataBits, id::kStopBits}));
        EXPECT_EQ(d.Control(id::kRetry)->nextInFocusChain(), d.Control(id::kOk));
        d.reject();
    });
}

TEST_F(CommSettingsDialogTest, ALongDevicePathAndTheScanProgressInPicture) {
    device_ = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A12345XY-if00-port0";
    WithDialog([&](CommSettingsDialog& d) {
        EXPECT_EQ(d.ControlAs<QComboBox>(id::kPortDevice)->currentText().toStdString(), device_);
        master_.Ui().SetStatusText("Trying ASCII 9600 odd parity ... (7 of 15)");
        EXPECT_EQ(TextOf(d.Control(ids::kStatusLine)),
                  "Trying ASCII 9600 odd parity ... (7 of 15)");
        ASSERT_TRUE(QDir().mkpath(QStringLiteral(FC_SCREENSHOT_DIR)));
        d.grab().save(QStringLiteral(FC_SCREENSHOT_DIR "/comm_settings_scan.png"));
        d.reject();
    });
}

TEST_F(CommSettingsDialogTest, ATimeOutOutOfRangeKeepsTheDialogOpenWithTheFocusOnIt) {
    WithDialog([&](CommSettingsDialog& d) {
        Edit(d, id::kTimeout)->setText("1001");
        auto box = AnswerNextMessageBox();
        Click(d, id::kOk);
        EXPECT_TRUE(box->text.toStdString().starts_with(IntegerRangePrompt(0, 1000) + "\n"));
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(QApplication::focusWidget(), d.Control(id::kTimeout));
        Click(d, id::kCancel);
    });
    EXPECT_FALSE(Stored(settings_keys::kTimeout));
}

TEST_F(CommSettingsDialogTest, IPPortUpTo65000AndOkCopiesBackAndSavesEveryKey) {
    WithDialog([&](CommSettingsDialog& d) {
        Edit(d, id::kIPPort)->setText("65001");
        auto box = AnswerNextMessageBox();
        Click(d, id::kOk);
        EXPECT_TRUE(box->text.toStdString().starts_with(IntegerRangePrompt(0, 65000) + "\n"));
        EXPECT_TRUE(d.isVisible());

        Edit(d, id::kIPPort)->setText("65000");
        Edit(d, id::kIPAddress)->setText("192.0.2.7");
        Edit(d, id::kPort)->setText("0");
        Edit(d, id::kUnitId)->setText("0");
        d.ControlAs<QComboBox>(id::kDataBits)->setCurrentIndex(2);
        d.ControlAs<QComboBox>(id::kType)->setCurrentIndex(1);
        d.ControlAs<QComboBox>(id::kProtocol)->setCurrentIndex(1);
        Click(d, id::kOk);
    });
    EXPECT_EQ(settings_.IPPort, 65000);
    EXPECT_EQ(settings_.IPAddress, "192.0.2.7");
    EXPECT_EQ(settings_.ComPort, 0);
    EXPECT_EQ(settings_.UnitId, 0);
    EXPECT_EQ(settings_.DataBits, 7);
    EXPECT_EQ(settings_.ModbusType, 1);
    EXPECT_EQ(settings_.IPProtocol, 1);
    CommSettings reloaded;
    LoadSettings(reloaded, profile_);
    EXPECT_EQ(reloaded.IPPort, 65000);
    EXPECT_EQ(reloaded.DataBits, 7);
    EXPECT_EQ(reloaded.IPAddress, "192.0.2.7");
}

TEST_F(CommSettingsDialogTest, AStoredTimeOutOutOfRangePromptsAsTheDialogOpens) {
    settings_.Timeout = 2000;
    auto box = AnswerNextMessageBox();
    WithDialog([&](CommSettingsDialog& d) {
        EXPECT_TRUE(box->seen);
        EXPECT_TRUE(box->text.toStdString().starts_with(IntegerRangePrompt(0, 1000) + "\n"));
        Click(d, id::kCancel);
    });
    EXPECT_EQ(settings_.Timeout, 2000);
}

TEST_F(CommSettingsDialogTest, AFoundDeviceStaysLiveAfterCancel) {
    sim::SimulatorOptions options;
    options.unit.line = {sim::SerialMode::Rtu, 19200, sim::Parity::None, 7};
    options.pty = true;
    sim::Simulator unit(options);
    std::string error;
    ASSERT_TRUE(unit.Start(&error)) << error;
    device_ = unit.PtyPath();
    settings_.Timeout = 9;
    settings_.ComPort = 4;

    WithDialog([&](CommSettingsDialog& d) {
        Edit(d, id::kPort)->setText("2");
        EXPECT_EQ(d.ControlAs<QComboBox>(id::kPortDevice)->currentText().toStdString(), device_);
        auto boxes = AnswerBoxes(1);
        StartOfASecond();
        Click(d, id::kAutoDetect);
        ASSERT_EQ(boxes->size(), 1u);
        EXPECT_EQ((*boxes)[0].caption, "Device Found!");
        EXPECT_EQ((*boxes)[0].text,
                  "Flow Computer Settings\n- RTU Mode\n- Port: Comm 2\n- Unit ID: 7");
        EXPECT_EQ((*boxes)[0].icon, QMessageBox::Information);
        EXPECT_EQ(d.ControlAs<QComboBox>(id::kBaud)->currentText(), "19200");
        EXPECT_EQ(Edit(d, id::kUnitId)->text(), "7");
        EXPECT_EQ(Edit(d, id::kTimeout)->text(), "9");
        Click(d, id::kCancel);
    });
    EXPECT_EQ(settings_.BaudRate, 4);
    EXPECT_EQ(settings_.UnitId, 7);
    EXPECT_EQ(settings_.ComPort, 2);
    EXPECT_EQ(settings_.Timeout, 9);
    EXPECT_FALSE(Stored(settings_keys::kBaudRate));
    EXPECT_FALSE(Stored(settings_keys::kUnitId));
}

TEST_F(CommSettingsDialogTest, APortThatDoesNotOpenEndsInUnableToFindDevice) {
    device_ = dir_.File("no-such-tty");
    WithDialog([&](CommSettingsDialog& d) {
        auto boxes = AnswerBoxes(2);
        Click(d, id::kAutoDetect);
        ASSERT_EQ(boxes->size(), 2u);
        EXPECT_EQ((*boxes)[0].text.toStdString(),
                  WithReason(connection_messages::kUnableToOpenCommPort,
                             PortFailureReason({device_, ENOENT})));
        EXPECT_EQ((*boxes)[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ((*boxes)[0].caption.toStdString(), "fcloader");
        EXPECT_EQ((*boxes)[1].caption, "Failed");
        EXPECT_EQ((*boxes)[1].text, "Unable to find device");
        EXPECT_EQ((*boxes)[1].icon, QMessageBox::NoIcon);
        EXPECT_EQ(d.ControlAs<QComboBox>(id::kBaud)->currentText(), "9600");
        Click(d, id::kCancel);
    });
    EXPECT_EQ(settings_.Timeout, 1);
    EXPECT_EQ(settings_.BaudRate, 3);  // the scan's first step no longer stays live
}

TEST_F(CommSettingsDialogTest, TheReportOfThePortFieldsDeviceGoesWhereTheUserSaid) {
    PtyPair pty;
    device_ = pty.path;
    const std::string path = dir_.File("my reports Config.txt");
    std::vector<std::string> opened;
    WithDialog([&](CommSettingsDialog& d) {
        Edit(d, id::kPort)->setText("5");
        d.ChooseReportPath = [&] { return std::optional<std::string>(path); };
        d.OpenReport = [&](const std::string& p) { opened.push_back(p); };
        Click(d, id::kPortReport);

        device_.clear();  // the next port does not open
        auto box = AnswerNextMessageBox();
        Click(d, id::kPortReport);
        EXPECT_EQ(box->text.toStdString(), WithReason(connection_messages::kUnableToReadPort,
                                                      PortFailureReason({"", ENODEV})));
        EXPECT_EQ(box->icon, QMessageBox::Warning);
        Click(d, id::kCancel);
    });
    EXPECT_EQ(opened, std::vector<std::string>{path});
    std::ifstream in(path);
    std::string line;
    for (int i = 0; i < 7; ++i)
        std::getline(in, line);
    EXPECT_EQ(line, " Port                       :     5  (Serial Port Number)");
}

TEST_F(CommSettingsDialogTest, TheDeviceChosenForANumberIsKeptInThePortsSection) {
    PtyPair pty;
    device_ = pty.path;
    WithDialog([&](CommSettingsDialog& d) {
        auto* devices = d.ControlAs<QComboBox>(id::kPortDevice);
        Edit(d, id::kPort)->setText("3");
        EXPECT_EQ(devices->currentText().toStdString(), pty.path);
        ASSERT_GE(devices->count(), 1);
        const int index = devices->count() - 1;
        const QString chosen = devices->itemText(index);
        emit devices->activated(index);
        EXPECT_EQ(profile_.GetString("Ports", "COM3", ""), chosen.toStdString());
        Click(d, id::kCancel);
    });
}

}  // namespace
}  // namespace fc::test
