#pragma once

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/user_interface.h"

namespace fc {

// A user who answers from a script and remembers everything shown to them.
// Used by the tests and by any front end that has no one to ask.
class ScriptedUserInterface : public UserInterface {
  public:
    // Answers given in turn; when the script runs out the fallback answers
    // (Cancel for Retry/Cancel, No for Yes/No, Ok for Ok).
    void QueueAnswer(MessageAnswer answer) { answers_.push_back(answer); }
    // Called for every box before it is answered (e.g. to stop a simulator).
    std::function<void(const MessageBox&)> on_message;

    MessageAnswer ShowMessage(const MessageBox& box) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void SetStatusText(std::string_view text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPosition(int position) override;
    void SetProgressText(int control_id, std::string_view text) override;
    void PumpPaintMessages() override { ++paint_pumps; }

    std::vector<MessageBox> messages;
    std::vector<std::string> status_history;
    std::map<int, std::string> progress_texts;
    int progress_lower = 0;
    int progress_upper = 0;
    int progress_position = 0;
    int wait_cursor_depth = 0;
    int wait_cursor_shown = 0;  // how many times it was begun
    int paint_pumps = 0;

    std::vector<std::string> MessageTexts() const;

  private:
    std::deque<MessageAnswer> answers_;
};

}  // namespace fc
