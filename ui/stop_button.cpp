#include "ui/stop_button.h"

#include <QAbstractButton>
#include <QShortcut>
#include <csignal>

#include "ui/held_input.h"

namespace fc {

// Escape belongs to the button, so it is live exactly while the button is
// (a shortcut of a disabled widget does nothing), and the window's own
// Escape (close, Cancel) comes back when the operation ends. A stop from
// the window asks what Ctrl-C asks of the command line.
StopButton::StopButton(QAbstractButton& button) : QObject(&button), button_(button) {
    TakeInputDuringOperations(button_);
    button_.setEnabled(false);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), &button_);
    const auto raise = [this] { request_.Raise(SIGINT); };
    connect(escape, &QShortcut::activated, this, raise);
    connect(&button_, &QAbstractButton::clicked, this, raise);
}

StopButton::Armed::Armed(StopButton& stop) : stop_(stop) {
    stop_.request_.Clear();
    stop_.button_.setEnabled(true);
}

StopButton::Armed::~Armed() {
    stop_.button_.setEnabled(false);
}

}  // namespace fc
