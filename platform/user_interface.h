#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace fc {

// Everything the logic layers need from the person at the screen goes through
// this one interface: the window implements it with Qt, the tests with a
// scripted answerer and the command line tool with the terminal. The logic
// therefore never includes Qt Widgets and runs the same in all three.
enum class MessageIcon { None, Information, Warning, Stop };
enum class MessageButtons { Ok, RetryCancel, YesNo };
enum class MessageAnswer { Ok, Cancel, Retry, Yes, No };

struct MessageBox {
    std::string text;
    std::string caption;  // empty: the application title
    MessageButtons buttons = MessageButtons::Ok;
    MessageIcon icon = MessageIcon::None;
};

// The answer a box gets when nobody is there to give one: the choice that
// changes nothing (Cancel, No), or Ok.
inline MessageAnswer UnattendedAnswer(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::RetryCancel:
            return MessageAnswer::Cancel;
        case MessageButtons::YesNo:
            return MessageAnswer::No;
        case MessageButtons::Ok:
            break;
    }
    return MessageAnswer::Ok;
}

// Everything but the boxes defaults to nothing: only the window has a cursor,
// a status line, progress and paint messages; the command line and the tests
// override what they show or count.
class UserInterface {
  public:
    virtual ~UserInterface() = default;

    // Modal: returns when the user has answered.
    virtual MessageAnswer ShowMessage(const MessageBox& box) = 0;

    // The wait cursor nests: every Begin is matched by one End.
    virtual void BeginWaitCursor() {}
    virtual void EndWaitCursor() {}

    // Status line and progress of a long operation (the firmware download).
    virtual void SetStatusText(std::string_view) {}
    virtual void SetProgressRange(int, int) {}
    virtual void SetProgressPosition(int) {}
    virtual void SetProgressText(int, std::string_view) {}

    // Repaint the windows and answer the window system (pings, expose, close
    // requests) without dispatching input or timer events, so a long
    // operation stays visible and alive on the desktop but nothing can run
    // inside it. Every wait longer than a moment calls it at least every
    // 100 ms; it is cheap to call far more often.
    virtual void PumpPaintMessages() {}
    // Work for the pump to do on each of its passes while a long operation
    // waits (a clock that must keep counting); empty for none.
    virtual void SetPumpTask(std::function<void()>) {}
};

// Gives the pump a task for the lifetime of the object.
class PumpTask {
  public:
    PumpTask(UserInterface& ui, std::function<void()> task) : ui_(ui) {
        ui_.SetPumpTask(std::move(task));
    }
    ~PumpTask() { ui_.SetPumpTask({}); }
    PumpTask(const PumpTask&) = delete;
    PumpTask& operator=(const PumpTask&) = delete;

  private:
    UserInterface& ui_;
};

// Sleeps for `total`, pumping the window at least every 100 ms.
void SleepPumping(UserInterface& ui, std::chrono::milliseconds total);

// Shows the wait cursor for the lifetime of the object.
class WaitCursor {
  public:
    explicit WaitCursor(UserInterface& ui) : ui_(ui) { ui_.BeginWaitCursor(); }
    ~WaitCursor() { ui_.EndWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    UserInterface& ui_;
};

}  // namespace fc
