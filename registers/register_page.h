#pragma once

#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "modbus/modbus_master.h"
#include "registers/register_operations.h"
#include "ui/page_host.h"

namespace fc {

class AutoTypeDialog;
class PageHost;

// The window's two timers (ids 1 and 2 of the window), found by these
// object names among its children.
inline constexpr const char* kClockTimerName = "ClockTimer";
inline constexpr const char* kLoopTimerName = "LoopTimer";

// The "Modbus Driver" page and the clock and write-loop controls of the
// "Advanced" page: the buttons' handlers, the two timers and the Register
// Auto Type dialog, which lives as long as the window. The work itself is
// register_operations'; this wires it to the controls.
class RegisterPage : public PageController {
  public:
    explicit RegisterPage(PageHost& dialog);
    ~RegisterPage() override;

    // The value type for an address, from the "Register Type" buttons as
    // they stand now.
    RegisterType SelectRegisterType(int address) const;
    // The "Floating Point" buttons as they stand now: "2-Byte" takes two
    // registers, "(LO/HI)" puts the low word first.
    FloatLayout SelectedFloatLayout() const;

    void OnRead();
    // False when a field was refused.
    bool OnWrite();
    void OnReadMultiple();
    void OnWriteMultiple();
    void OnAutoSettings();
    void OnClockStart();
    void OnClockStop();
    void OnClockTimer();
    void OnStartLoop();
    void OnStopLoop();
    void OnLoopTimer();

  private:
    void ConnectHandlers();
    void RunTick(void (RegisterPage::*tick)());
    std::string Text(int id) const;
    void SetText(int id, const std::string& text);
    void SetEnabled(int id, bool enabled);
    void ShowTraffic(const RegisterOutcome& outcome);
    std::optional<int> IntegerIn(int id);
    void Refuse(int id);

    PageHost& dialog_;
    // Children of the window, deleted with this controller, before the
    // window goes.
    std::unique_ptr<AutoTypeDialog> auto_type_;
    std::unique_ptr<QTimer> clock_timer_;
    std::unique_ptr<QTimer> loop_timer_;
};

}  // namespace fc
