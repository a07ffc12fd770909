#include "cli/terminal_user_interface.h"

#include <algorithm>
#include <cctype>

#include "download/download_progress.h"
#include "platform/stop_request.h"

namespace fc {

TerminalUserInterface::TerminalUserInterface(std::FILE* in, std::FILE* out, bool interactive)
    : in_(in), out_(out), interactive_(interactive) {}

char TerminalUserInterface::Ask(const std::string& prompt, const std::string& choices) {
    for (;;) {
        std::fprintf(out_, "%s", prompt.c_str());
        std::fflush(out_);
        char line[64];
        if (!std::fgets(line, sizeof line, in_))
            return 0;
        const char answer = static_cast<char>(std::tolower(static_cast<unsigned char>(line[0])));
        if (choices.find(answer) != std::string::npos)
            return answer;
    }
}

bool TerminalUserInterface::AskYesNo(const std::string& question) {
    if (!interactive_)
        return false;
    return Ask(question + " [y/n] ", "yn") == 'y';
}

MessageAnswer TerminalUserInterface::ShowMessage(const MessageBox& box) {
    messages_.push_back(box.text);
    if (!quiet_) {
        FinishProgress();
        std::fprintf(out_, "%s\n", box.text.c_str());
        std::fflush(out_);
    }
    switch (box.buttons) {
        case MessageButtons::RetryCancel:
            // Whoever asked the run to stop has answered already.
            if (interactive_ && !ProcessStopRequest().Raised() &&
                Ask("[r]etry or [c]ancel? ", "rc") == 'r')
                return MessageAnswer::Retry;
            return MessageAnswer::Cancel;
        case MessageButtons::YesNo:
            return interactive_ && Ask("[y]es or [n]o? ", "yn") == 'y' ? MessageAnswer::Yes
                                                                       : MessageAnswer::No;
        case MessageButtons::Ok:
            break;
    }
    return MessageAnswer::Ok;
}

void TerminalUserInterface::SetStatusText(std::string_view text) {
    if (text.empty())
        return;
    if (quiet_) {
        messages_.emplace_back(text);
        return;
    }
    FinishProgress();
    std::fprintf(out_, "%.*s\n", static_cast<int>(text.size()), text.data());
    std::fflush(out_);
}

void TerminalUserInterface::SetProgressRange(int lower, int upper) {
    lower_ = lower;
    upper_ = upper;
    position_ = lower;
}

void TerminalUserInterface::SetProgressPosition(int position) {
    position_ = position;
    DrawProgress(false);
}

void TerminalUserInterface::SetProgressText(int control_id, std::string_view text) {
    if (control_id == kTransferRateText)
        rate_ = text;
    if (control_id == kTimeLeftText)
        left_ = text;
}

void TerminalUserInterface::DrawProgress(bool force) {
    const int span = std::max(1, upper_ - lower_);
    const int done = std::clamp(position_ - lower_, 0, span);
    const int percent = done * 100 / span;
    const std::string rate = rate_.empty() ? "" : "  " + rate_;
    const std::string left = left_.empty() ? "" : "  " + left_ + " left";
    if (interactive_) {
        constexpr int kWidth = 30;
        const int filled = done * kWidth / span;
        std::fprintf(out_, "\r[%s%s] %3d%%  %d/%d sectors%s%s   ", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, '.').c_str(), percent, done, span, rate.c_str(),
                     left.c_str());
        progress_open_ = true;
    } else {
        // Not a terminal: a plain line every few seconds is enough for a log.
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - last_plain_line_ < std::chrono::seconds(2))
            return;
        last_plain_line_ = now;
        std::fprintf(out_, "progress %d%% (%d/%d sectors)%s%s\n", percent, done, span, rate.c_str(),
                     left.c_str());
    }
    std::fflush(out_);
}

void TerminalUserInterface::FinishProgress() {
    if (!progress_open_)
        return;
    std::fprintf(out_, "\n");
    progress_open_ = false;
}

}  // namespace fc
