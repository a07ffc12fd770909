#pragma once

#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "platform/user_interface.h"
#include "ui/held_input.h"

class QWidget;

namespace fc {

// The user-interface services of the window: message boxes, the wait cursor,
// and the status line, progress bar and progress texts of the main window,
// found by control id through the lookup it is given.
class QtUserInterface : public UserInterface {
  public:
    using ControlLookup = std::function<QWidget*(int id)>;

    // window may be null (no window yet): the boxes then have no owner and
    // the status and progress calls do nothing.
    QtUserInterface(QWidget* window, ControlLookup control);

    MessageAnswer ShowMessage(const MessageBox& box) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void SetStatusText(std::string_view text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPosition(int position) override;
    void SetProgressText(int control_id, std::string_view text) override;
    void PumpPaintMessages() override;

  private:
    static constexpr std::chrono::milliseconds kPumpInterval{50};

    QWidget* ControlOrNull(int id) const;
    void ShowBusyUntilIdle();
    void DropBusyCursor();

    QWidget* window_;
    ControlLookup control_;
    std::chrono::steady_clock::time_point last_pump_{};
    bool busy_cursor_shown_ = false;
    std::unique_ptr<QTimer> idle_timer_;
    HeldInput held_input_;
};

}  // namespace fc
