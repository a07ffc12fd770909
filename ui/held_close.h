#pragma once

class QCloseEvent;
class QWidget;

namespace fc {

// The waits of a long operation let the window system through, and with it
// close requests (the title bar's button, Alt+F4, the session ending).
// Closing the window that an operation works on would pull it from under the
// operation, so the request is held and carried out once the operation ends.
class HeldClose {
  public:
    explicit HeldClose(QWidget& window) : window_(window) {}

    // While busy, ignores the request and keeps it; true when it did.
    bool Hold(QCloseEvent& event, bool busy);
    // At the end of the operation: closes the window if a request was held.
    void Release();

  private:
    QWidget& window_;
    bool held_ = false;
};

}  // namespace fc
