#pragma once

#include "platform/user_interface.h"

namespace fc {

// The driver is built before the window that will answer for it, so it talks
// to this relay, which passes everything on to the user interface of the
// moment. With none set, boxes get the answer of a user who closed them
// (Cancel, No, Ok) and the rest goes nowhere.
class UserInterfaceRelay : public UserInterface {
  public:
    void SetTarget(UserInterface* target) { target_ = target; }
    UserInterface* Target() const { return target_; }

    // Points the relay at `target` while it lives and back at the one before
    // when it ends, however the scope is left.
    class Redirect {
      public:
        Redirect(UserInterfaceRelay& relay, UserInterface* target)
            : relay_(relay), kept_(relay.Target()) {
            relay_.SetTarget(target);
        }
        ~Redirect() { relay_.SetTarget(kept_); }
        Redirect(const Redirect&) = delete;
        Redirect& operator=(const Redirect&) = delete;

      private:
        UserInterfaceRelay& relay_;
        UserInterface* kept_;
    };

    MessageAnswer ShowMessage(const MessageBox& box) override {
        return target_ ? target_->ShowMessage(box) : UnattendedAnswer(box.buttons);
    }
    void BeginWaitCursor() override {
        if (target_)
            target_->BeginWaitCursor();
    }
    void EndWaitCursor() override {
        if (target_)
            target_->EndWaitCursor();
    }
    void SetStatusText(std::string_view text) override {
        if (target_)
            target_->SetStatusText(text);
    }
    void SetProgressRange(int lower, int upper) override {
        if (target_)
            target_->SetProgressRange(lower, upper);
    }
    void SetProgressPosition(int position) override {
        if (target_)
            target_->SetProgressPosition(position);
    }
    void SetProgressText(int control_id, std::string_view text) override {
        if (target_)
            target_->SetProgressText(control_id, text);
    }
    void PumpPaintMessages() override {
        if (target_)
            target_->PumpPaintMessages();
    }
    void SetPumpTask(std::function<void()> task) override {
        if (target_)
            target_->SetPumpTask(std::move(task));
    }

  private:
    UserInterface* target_ = nullptr;
};

}  // namespace fc
