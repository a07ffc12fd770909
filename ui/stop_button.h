#pragma once

#include <QObject>

#include "platform/stop_request.h"

class QAbstractButton;

namespace fc {

// The Stop of a long operation: a button (and Escape) that the user can
// press while the operation's waits hold every other input of its window.
// It is enabled only while an operation that can be stopped runs.
class StopButton : public QObject {
  public:
    explicit StopButton(QAbstractButton& button);

    // For the life of the object the button is live and the request clear
    // until the user presses it; the operation passes Request() to the
    // driver. Afterwards the button is disabled again.
    class Armed {
      public:
        explicit Armed(StopButton& stop);
        ~Armed();
        Armed(const Armed&) = delete;
        Armed& operator=(const Armed&) = delete;
        const StopRequest* Request() const { return &stop_.request_; }
        bool Stopped() const { return stop_.request_.Raised(); }

      private:
        StopButton& stop_;
    };

  private:
    QAbstractButton& button_;
    StopRequest request_;
};

}  // namespace fc
