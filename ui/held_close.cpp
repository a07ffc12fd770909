#include "ui/held_close.h"

#include <xcb/xcb.h>

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QWidget>
#include <cstdlib>
#include <cstring>

namespace fc {

namespace {

uint32_t AtomNamed(xcb_connection_t* connection, const char* name) {
    const xcb_intern_atom_cookie_t cookie =
        xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    if (!reply)
        return 0;
    const uint32_t atom = reply->atom;
    std::free(reply);
    return atom;
}

}  // namespace

HeldClose::HeldClose(QWidget& window, std::function<void()> blocked_close)
    : window_(window), blocked_close_(std::move(blocked_close)) {
    if (!blocked_close_)
        return;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection())
        return;
    protocols_atom_ = AtomNamed(x11->connection(), "WM_PROTOCOLS");
    delete_atom_ = AtomNamed(x11->connection(), "WM_DELETE_WINDOW");
    qGuiApp->installNativeEventFilter(this);
}

HeldClose::~HeldClose() {
    if (qGuiApp && delete_atom_)
        qGuiApp->removeNativeEventFilter(this);
}

bool HeldClose::Hold(QCloseEvent& event, bool busy) {
    if (!busy)
        return false;
    event.ignore();
    held_ = true;
    return true;
}

void HeldClose::Release() {
    if (!held_)
        return;
    held_ = false;
    window_.close();
}

// Only a request that Qt would drop is taken here; every other passes on.
bool HeldClose::nativeEventFilter(const QByteArray& type, void* message, qintptr*) {
    if (type != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & ~0x80) != XCB_CLIENT_MESSAGE)
        return false;
    const auto* client = static_cast<const xcb_client_message_event_t*>(message);
    if (client->format != 32 || client->type != protocols_atom_ ||
        client->data.data32[0] != delete_atom_ || !window_.testAttribute(Qt::WA_WState_Created) ||
        client->window != window_.winId())
        return false;
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal == &window_)
        return false;
    blocked_close_();
    return true;
}

}  // namespace fc
