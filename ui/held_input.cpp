#include "ui/held_input.h"

#include <QApplication>
#include <QEvent>
#include <QMouseEvent>
#include <QWidget>
#include <QWindow>

namespace fc {

namespace {

constexpr char kTakesInput[] = "fcTakesInputDuringOperations";

bool IsUserInput(const QEvent& event) {
    return event.isInputEvent() || event.type() == QEvent::Shortcut;
}

// The widget an event is for: the receiver, the widget a window shows, or
// the widget that owns a shortcut or action.
QWidget* WidgetOf(QObject* receiver) {
    for (QObject* object = receiver; object; object = object->parent()) {
        if (auto* widget = qobject_cast<QWidget*>(object))
            return widget;
        if (auto* window = qobject_cast<QWindow*>(object)) {
            for (QWidget* top : QApplication::topLevelWidgets())
                if (top->windowHandle() == window)
                    return top;
            return nullptr;
        }
    }
    return nullptr;
}

// The widget a window's event reaches in the end: the one under the pointer
// for a click, the focused one for a key.
QWidget* TargetOf(QWidget* widget, const QEvent& event) {
    if (!widget || !widget->isWindow())
        return widget;
    if (const auto* pointer = dynamic_cast<const QSinglePointEvent*>(&event)) {
        const QPoint at = widget->mapFromGlobal(pointer->globalPosition()).toPoint();
        if (QWidget* child = widget->childAt(at))
            return child;
    } else if (event.type() == QEvent::KeyPress || event.type() == QEvent::KeyRelease) {
        if (QWidget* focused = widget->focusWidget())
            return focused;
    }
    return widget;
}

// A marked widget or window, a dialog raised from one (its save dialog, its
// boxes), or a popup that works for one of those: a completer's list has no
// parent, only the field it completes as its focus proxy.
bool TakesInput(QObject* receiver, const QEvent& event) {
    QWidget* widget = TargetOf(WidgetOf(receiver), event);
    while (widget) {
        if (widget->property(kTakesInput).toBool())
            return true;
        QWidget* proxy = widget->focusProxy();
        const bool proxy_elsewhere = proxy && widget->isWindow() && !widget->parentWidget() &&
                                     !widget->isAncestorOf(proxy);
        widget = proxy_elsewhere ? proxy : widget->parentWidget();
    }
    return false;
}

}  // namespace

void TakeInputDuringOperations(QWidget& window) {
    window.setProperty(kTakesInput, true);
}

HeldInput::Scope::Scope(HeldInput& held) : held_(held) {
    QCoreApplication::instance()->installEventFilter(&held_);
}

HeldInput::Scope::~Scope() {
    QCoreApplication::instance()->removeEventFilter(&held_);
}

bool HeldInput::eventFilter(QObject* receiver, QEvent* event) {
    if (!IsUserInput(*event) || TakesInput(receiver, *event))
        return false;
    kept_.emplace_back(receiver, event->clone());
    return true;
}

void HeldInput::Release() {
    for (auto& [receiver, event] : std::exchange(kept_, {}))
        if (receiver)
            QCoreApplication::postEvent(receiver, event.release());
}

}  // namespace fc
