#pragma once

#include <QAbstractNativeEventFilter>
#include <cstdint>
#include <functional>

class QCloseEvent;
class QWidget;

namespace fc {

// The waits of a long operation let the window system through, and with it
// close requests (the title bar's button, Alt+F4, the session ending).
// Closing the window that an operation works on would pull it from under the
// operation, so the request is held and carried out once the operation ends.
//
// Qt drops a close request for a window that a modal box or dialog blocks,
// and an operation's boxes (Retry/Cancel, its ending message) and the Comm
// Settings dialog's scan do block the main window; the request is caught on
// its way in from the X server and handed to `blocked_close` instead.
class HeldClose : public QAbstractNativeEventFilter {
  public:
    explicit HeldClose(QWidget& window, std::function<void()> blocked_close = {});
    ~HeldClose() override;
    HeldClose(const HeldClose&) = delete;
    HeldClose& operator=(const HeldClose&) = delete;

    // While busy, ignores the request and keeps it; true when it did.
    bool Hold(QCloseEvent& event, bool busy);
    // At the end of the operation: closes the window if a request was held.
    void Release();

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr* result) override;

  private:
    QWidget& window_;
    std::function<void()> blocked_close_;
    uint32_t protocols_atom_ = 0;
    uint32_t delete_atom_ = 0;
    bool held_ = false;
};

}  // namespace fc
