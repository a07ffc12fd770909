#include "ui/held_input.h"

#include <QApplication>
#include <QEvent>
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

// A marked window, or a dialog raised from one (its save dialog, its boxes).
bool TakesInput(QObject* receiver) {
    for (QWidget* widget = WidgetOf(receiver); widget; widget = widget->parentWidget())
        if (widget->isWindow() && widget->property(kTakesInput).toBool())
            return true;
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
    if (!IsUserInput(*event) || TakesInput(receiver))
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
