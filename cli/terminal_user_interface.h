#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/user_interface.h"

namespace fc {

// The command line's user: messages go to standard error with the window's
// exact texts; a question is asked on the terminal when there is one, and is
// answered as by Cancel (or No) when there is not. Progress is one line
// redrawn in place on a terminal, and plain lines now and then otherwise.
class TerminalUserInterface : public UserInterface {
  public:
    TerminalUserInterface(std::FILE* in, std::FILE* out, bool interactive);

    MessageAnswer ShowMessage(const MessageBox& box) override;
    void SetStatusText(std::string_view text) override;
    void SetProgressRange(int lower, int upper) override;
    void SetProgressPosition(int position) override;
    void SetProgressText(int control_id, std::string_view text) override;

    // Ends a progress line so that what follows starts on a line of its own.
    void FinishProgress();
    // Every text shown, in order (for --json).
    const std::vector<std::string>& Messages() const { return messages_; }
    bool Interactive() const { return interactive_; }
    // Questions are answered as without a terminal from now on: a loop that
    // must go on does not stop to ask.
    void StopAsking() { interactive_ = false; }
    // Messages and status texts are kept (in Messages()) but not printed: a
    // display redrawn in place shows them itself, where a printed line would
    // tear it.
    void KeepMessagesQuiet() { quiet_ = true; }
    // Asks a yes/no question on the terminal; false without one.
    bool AskYesNo(const std::string& question);

  private:
    void DrawProgress(bool force);
    char Ask(const std::string& prompt, const std::string& choices);

    std::FILE* in_;
    std::FILE* out_;
    bool interactive_;
    bool quiet_ = false;
    std::vector<std::string> messages_;
    int lower_ = 0;
    int upper_ = 0;
    int position_ = 0;
    std::string rate_;
    std::string left_;
    bool progress_open_ = false;
    std::chrono::steady_clock::time_point last_plain_line_{};
};

}  // namespace fc
