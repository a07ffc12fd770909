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
            seen_.push_back({box->text().toStdString(), std::chrono::steady_clock::now()});
            for (const auto answer : {QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::Ok})
                if (QAbstractButton* button = box->button(answer)) {
                    button->click();
                    break;
                }
            return;
        }
    }

    QTimer timer_;
    std::vector<Seen> seen_;
};

}  // namespace fc::test
