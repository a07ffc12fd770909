#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

#include "platform/application_title.h"
#include "ui/main_dialog_template.h"

namespace fc {

namespace {

QMessageBox::Icon QtIcon(MessageIcon icon) {
    switch (icon) {
        case MessageIcon::Information:
            return QMessageBox::Information;
        case MessageIcon::Warning:
            return QMessageBox::Warning;
        case MessageIcon::Stop:
            return QMessageBox::Critical;
        case MessageIcon::None:
            break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButtons QtButtons(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::RetryCancel:
            return QMessageBox::Retry | QMessageBox::Cancel;
        case MessageButtons::YesNo:
            return QMessageBox::Yes | QMessageBox::No;
        case MessageButtons::Ok:
            break;
    }
    return QMessageBox::Ok;
}

// Closing a box by its close button or Escape gives the answer of its
// cancelling button: Cancel, No, or Ok for a box with Ok alone.
MessageAnswer AnswerOf(int button, MessageButtons buttons) {
    switch (button) {
        case QMessageBox::Retry:
            return MessageAnswer::Retry;
        case QMessageBox::Cancel:
            return MessageAnswer::Cancel;
        case QMessageBox::Yes:
            return MessageAnswer::Yes;
        case QMessageBox::No:
            return MessageAnswer::No;
        case QMessageBox::Ok:
            return MessageAnswer::Ok;
    }
    if (buttons == MessageButtons::RetryCancel)
        return MessageAnswer::Cancel;
    if (buttons == MessageButtons::YesNo)
        return MessageAnswer::No;
    return MessageAnswer::Ok;
}

QString FromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QtUserInterface::QtUserInterface(QWidget* window, ControlLookup control)
    : window_(window), control_(std::move(control)) {}

MessageAnswer QtUserInterface::ShowMessage(const MessageBox& box) {
    const std::string& caption = box.caption.empty() ? ApplicationTitle() : box.caption;
    // A box raised inside another dialog (Comm Settings) belongs to it.
    QWidget* owner = QApplication::activeModalWidget();
    if (!owner)
        owner = window_;
    QMessageBox message(QtIcon(box.icon), QString::fromStdString(caption),
                        QString::fromStdString(box.text), QtButtons(box.buttons), owner);
    message.setTextFormat(Qt::PlainText);
    // Yes to a warning is the destructive choice (the download's "Confirm"
    // clears the unit): Enter, pressed out of habit, must not take it.
    if (box.buttons == MessageButtons::YesNo && box.icon == MessageIcon::Warning)
        message.setDefaultButton(QMessageBox::No);
    if (before_box_)
        before_box_();
    // The box's own loop lets the pump's busy cursor go; the next pump after
    // the box brings it back. The wait cursor of a long operation gives way
    // to the arrow over the box, and comes back when it is answered.
    DropBusyCursor();
    ++boxes_open_;
    ShowCursor();
    const int button = message.exec();
    --boxes_open_;
    ShowCursor();
    return AnswerOf(button, box.buttons);
}

ScopedOverrideCursor::ScopedOverrideCursor(Qt::CursorShape shape) {
    QApplication::setOverrideCursor(shape);
}

ScopedOverrideCursor::~ScopedOverrideCursor() {
    QApplication::restoreOverrideCursor();
}

void ScopedOverrideCursor::Change(Qt::CursorShape shape) {
    QApplication::changeOverrideCursor(shape);
}

void QtUserInterface::BeginWaitCursor() {
    ++wait_depth_;
    ShowCursor();
}

void QtUserInterface::EndWaitCursor() {
    if (wait_depth_ > 0)
        --wait_depth_;
    ShowCursor();
}

void QtUserInterface::ShowCursor() {
    if (wait_depth_ == 0 && !busy_cursor_shown_) {
        cursor_.reset();
        return;
    }
    const Qt::CursorShape shape = boxes_open_ > 0 ? Qt::ArrowCursor : Qt::WaitCursor;
    if (cursor_)
        cursor_->Change(shape);
    else
        cursor_.emplace(shape);
}

QWidget* QtUserInterface::ControlOrNull(int id) const {
    return window_ && control_ ? control_(id) : nullptr;
}

void QtUserInterface::SetStatusText(std::string_view text) {
    SetProgressText(ids::kStatusLine, text);
    // A dialog raised over the window (Comm Settings, during auto-detect)
    // hides its status line; a dialog with a status line of its own, under
    // the same id, shows the text there too.
    QWidget* dialog = QApplication::activeModalWidget();
    if (dialog && dialog != window_) {
        if (auto* label = dialog->findChild<QLabel*>(ControlObjectName(ids::kStatusLine),
                                                     Qt::FindDirectChildrenOnly))
            label->setText(FromView(text));
    }
}

void QtUserInterface::SetProgressRange(int lower, int upper) {
    if (auto* bar = qobject_cast<QProgressBar*>(ControlOrNull(ids::kProgressBar)))
        bar->setRange(lower, upper);
}

void QtUserInterface::SetProgressPosition(int position) {
    if (auto* bar = qobject_cast<QProgressBar*>(ControlOrNull(ids::kProgressBar)))
        bar->setValue(position);
}

void QtUserInterface::SetProgressText(int control_id, std::string_view text) {
    if (auto* label = qobject_cast<QLabel*>(ControlOrNull(control_id)))
        label->setText(FromView(text));
}

// The waits of an operation call this often (every 100 ms at most, some far
// more often), so a pass runs at most every kPumpInterval: enough to answer
// the desktop's pings and paint, too rare to cost the transfer anything.
// A pass lets the window system through (paint, expose, pings, close
// requests) and the windows that take input during operations (traffic,
// watch); the main window's keyboard and mouse input is kept until the
// operation ends, and every timer is held back: a tick that comes due
// meanwhile is deferred, and a timer that came due more than once fires once.
// Qt's own exclusion of user input is not used: on X11 it holds the window
// manager's close request back with the input, and hands it over later under
// whatever box ends the operation, where it is lost.
void QtUserInterface::PumpPaintMessages() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_pump_ < kPumpInterval)
        return;
    last_pump_ = now;
    ShowBusyUntilIdle();
    {
        const HeldInput::Scope holding(held_input_);
        QCoreApplication::processEvents(QEventLoop::X11ExcludeTimers);
    }
    if (pump_task_)
        pump_task_();
}

// A wait that pumps is a long operation; whether its handler showed the wait
// cursor or not, the desktop shows it busy. The cursor goes, and the kept
// input is handed on, when the event loop runs freely again: a zero timer
// fires only then, as the pump holds timers back.
void QtUserInterface::ShowBusyUntilIdle() {
    if (busy_cursor_shown_)
        return;
    busy_cursor_shown_ = true;
    ShowCursor();
    if (!idle_timer_) {
        idle_timer_ = std::make_unique<QTimer>();
        idle_timer_->setSingleShot(true);
        idle_timer_->setInterval(0);
        QObject::connect(idle_timer_.get(), &QTimer::timeout, [this] {
            DropBusyCursor();
            held_input_.Release();
        });
    }
    idle_timer_->start();
}

void QtUserInterface::DropBusyCursor() {
    if (!busy_cursor_shown_)
        return;
    busy_cursor_shown_ = false;
    ShowCursor();
}

}  // namespace fc
