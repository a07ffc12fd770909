#include "platform/scripted_user_interface.h"

namespace fc {

MessageAnswer ScriptedUserInterface::ShowMessage(const MessageBox& box) {
    messages.push_back(box);
    if (on_message)
        on_message(box);
    if (answers_.empty())
        return UnattendedAnswer(box.buttons);
    MessageAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

void ScriptedUserInterface::BeginWaitCursor() {
    ++wait_cursor_depth;
    ++wait_cursor_shown;
}

void ScriptedUserInterface::EndWaitCursor() {
    --wait_cursor_depth;
}

void ScriptedUserInterface::SetStatusText(std::string_view text) {
    status_history.emplace_back(text);
}

void ScriptedUserInterface::SetProgressRange(int lower, int upper) {
    progress_lower = lower;
    progress_upper = upper;
}

void ScriptedUserInterface::SetProgressPosition(int position) {
    progress_position = position;
}

void ScriptedUserInterface::SetProgressText(int control_id, std::string_view text) {
    progress_texts[control_id] = std::string(text);
}

std::vector<std::string> ScriptedUserInterface::MessageTexts() const {
    std::vector<std::string> texts;
    for (const auto& box : messages)
        texts.push_back(box.text);
    return texts;
}

}  // namespace fc
