#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace fc::test {

// Answers every message box as it appears, for as long as it lives, with
// Cancel where the box offers it (ending a failed request's retries, or a
// clock's updates), Yes to a question (going ahead with a download) and OK
// otherwise, noting each text and when it came.
class BoxAnswerer {
  public:
    struct Seen {
        std::string text;
        std::chrono::steady_clock::time_point when;
    };

    BoxAnswerer() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { AnswerVisibleBox(); });
        timer_.start(5);
    }
    // How long each box stays up before it is answered.
    void HoldEachBoxFor(std::chrono::milliseconds hold) { hold_ = hold; }
    std::vector<Seen> TakeSeen() { return std::exchange(seen_, {}); }
    std::vector<std::string> Take() {
        std::vector<std::string> texts;
        for (const Seen& box : TakeSeen())
            texts.push_back(box.text);
        return texts;
    }

  private:
    void AnswerVisibleBox() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (!box || !box->isVisible())
                continue;
            const auto now = std::chrono::steady_clock::now();
            if (box != held_box_) {
                held_box_ = box;
                held_since_ = now;
            }
            if (now - held_since_ < hold_)
                return;
            held_box_ = nullptr;  // the next box may take this one's place
            seen_.push_back({box->text().toStdString(), now});
            for (const auto answer : {QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::Ok})
                if (QAbstractButton* button = box->button(answer)) {
                    button->click();
                    break;
                }
            return;
        }
    }

    std::chrono::milliseconds hold_{};
    QMessageBox* held_box_ = nullptr;
    std::chrono::steady_clock::time_point held_since_;
    QTimer timer_;
    std::vector<Seen> seen_;
};

}  // namespace fc::test
