#pragma once

#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "platform/user_interface.h"
#include "ui/held_input.h"

class QWidget;

namespace fc {

// One push of the application's override cursor, popped with the object.
class ScopedOverrideCursor {
  public:
    explicit ScopedOverrideCursor(Qt::CursorShape shape);
    ~ScopedOverrideCursor();
    ScopedOverrideCursor(const ScopedOverrideCursor&) = delete;
    ScopedOverrideCursor& operator=(const ScopedOverrideCursor&) = delete;
    void Change(Qt::CursorShape shape);
};

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
    void SetPumpTask(std::function<void()> task) override { pump_task_ = std::move(task); }
    // Runs before each box of an operation: what the box replaces goes.
    void SetBeforeBox(std::function<void()> before) { before_box_ = std::move(before); }

  private:
    static constexpr std::chrono::milliseconds kPumpInterval{50};

    QWidget* ControlOrNull(int id) const;
    void ShowBusyUntilIdle();
    void DropBusyCursor();
    // The one cursor of the window's operations, from what is going on: the
    // wait cursor while an operation runs, the arrow over its boxes.
    void ShowCursor();

    QWidget* window_;
    ControlLookup control_;
    std::chrono::steady_clock::time_point last_pump_{};
    bool busy_cursor_shown_ = false;
    int wait_depth_ = 0;
    int boxes_open_ = 0;
    std::optional<ScopedOverrideCursor> cursor_;
    std::function<void()> pump_task_;
    std::function<void()> before_box_;
    std::unique_ptr<QTimer> idle_timer_;
    HeldInput held_input_;
};

}  // namespace fc
