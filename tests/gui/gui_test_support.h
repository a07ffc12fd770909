#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <memory>
#include <string>

#include "app/main_dialog.h"
#include "modbus/comm_settings.h"
#include "modbus/link_flags.h"
#include "modbus/modbus_master.h"
#include "platform/profile.h"
#include "platform/user_interface_relay.h"
#include "tests/support/temp_dir.h"

namespace fc::test {

// What a message box showed before it was answered.
struct SeenBox {
    bool seen = false;
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

// Waits (from the event loop of whatever modal run comes next) for a message
// box to appear, notes what it shows and presses the given button.
inline std::shared_ptr<SeenBox> AnswerNextMessageBox(
    QMessageBox::StandardButton answer = QMessageBox::Ok) {
    auto seen = std::make_shared<SeenBox>();
    auto* timer = new QTimer(QCoreApplication::instance());
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            seen->seen = true;
            seen->text = box->text();
            seen->caption = box->windowTitle();
            seen->icon = box->icon();
            seen->buttons = box->standardButtons();
            timer->stop();
            timer->deleteLater();
            box->button(answer)->click();
            return;
        }
        // Give up after a while rather than poll for ever; a box that never
        // came is the test's failure to report.
        if (++*tries > 500) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start(10);
    return seen;
}

// Runs action once the next modal dialog of the given type is up. Gives up
// after a few seconds, so an action whose dialog never came cannot run later
// inside another test.
template <typename Dialog, typename Action>
void WhenModalOpens(Action action) {
    auto* timer = new QTimer(QCoreApplication::instance());
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog || ++*tries > 500) {
            timer->stop();
            timer->deleteLater();
        }
        if (dialog)
            action(dialog);
    });
    timer->start(10);
}

// A port resolver that knows no device: a window under test never opens a
// real serial port by accident.
inline PortResolver NoPorts() {
    return [](int) { return std::vector<std::string>{}; };
}

// The real main window over records, a driver and a profile of its own, wired
// as the application wires them: the driver's messages reach the window.
// Which device a port number reaches is the test's to say.
class TestWindow {
  protected:
    explicit TestWindow(PortResolver resolver)
        : master_(settings_, link_, relay_, std::move(resolver)) {
        relay_.SetTarget(&dialog_.Ui());
    }

    TempDir dir_;
    CommSettings settings_;
    LinkFlags link_;
    Profile profile_ = Profile::AtPath(dir_.File("fcloader.conf"));
    UserInterfaceRelay relay_;
    ModbusMaster master_;
    MainDialog dialog_{master_, profile_};
};

// A window that reaches no device at all.
class MainDialogTest : public ::testing::Test, protected TestWindow {
  protected:
    MainDialogTest() : TestWindow(NoPorts()) {}

    void SetUp() override {
        dialog_.show();
        dialog_.activateWindow();
        QApplication::setActiveWindow(&dialog_);
    }

    template <typename Widget>
    Widget* C(int id) {
        auto* widget = dialog_.ControlAs<Widget>(id);
        EXPECT_NE(widget, nullptr) << "control " << id;
        return widget;
    }
    bool Shown(int id) { return dialog_.Control(id)->isVisibleTo(&dialog_); }
};

}  // namespace fc::test
