#pragma once

#include <QEvent>
#include <QObject>
#include <QPointer>
#include <memory>
#include <utility>
#include <vector>

class QWidget;

namespace fc {

// Marks a window (the traffic window, the watch window) as one the user may
// work in while an operation runs in the main window: its scrolling, buttons
// and saves go on during the operation's waits. A control marked so (the
// Stop of the operation) takes its clicks and keys while its window waits.
void TakeInputDuringOperations(QWidget& window);

// The user's input (keys, mouse, wheel, shortcuts) that arrives during an
// operation's waits, for every window not marked above: it is kept, in
// order, and handed on when the operation has ended, so nothing runs inside
// the operation and nothing the user did is lost. The window system's own
// messages (paint, pings, close requests) pass untouched.
class HeldInput : public QObject {
  public:
    // Holds input while it lives (the span of one pass of the event loop).
    class Scope {
      public:
        explicit Scope(HeldInput& held);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        HeldInput& held_;
    };

    // Hands the kept input on to its receivers, through the event loop.
    void Release();

  protected:
    bool eventFilter(QObject* receiver, QEvent* event) override;

  private:
    std::vector<std::pair<QPointer<QObject>, std::unique_ptr<QEvent>>> kept_;
};

}  // namespace fc
