#include "registers/register_page.h"

#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>

#include "platform/field_text.h"
#include "platform/user_interface.h"
#include "registers/auto_type_dialog.h"
#include "registers/register_messages.h"
#include "ui/field_exchange.h"
#include "ui/main_dialog_template.h"

namespace fc {

namespace {

ClockIncrease IncreaseFromIndex(int index) {
    switch (index) {
        case 1:
            return ClockIncrease::Minute;
        case 2:
            return ClockIncrease::Day;
        default:
            return ClockIncrease::Hour;
    }
}

// Precise: a coarse timer may fire up to 5 % early, and a clock update that
// comes early writes the clock back before the unit has crossed the boundary.
std::unique_ptr<QTimer> WindowTimer(PageHost& dialog, const char* name) {
    auto timer = std::make_unique<QTimer>(dialog.Window());
    timer->setObjectName(QString::fromUtf8(name));
    timer->setTimerType(Qt::PreciseTimer);
    return timer;
}

}  // namespace

RegisterPage::RegisterPage(PageHost& dialog)
    : dialog_(dialog),
      auto_type_(std::make_unique<AutoTypeDialog>(dialog.Store(), dialog.Window())),
      clock_timer_(WindowTimer(dialog, kClockTimerName)),
      loop_timer_(WindowTimer(dialog, kLoopTimerName)) {
    // The ranges are in place before the window takes any input, and are
    // read once: later changes come only through the dialog.
    auto_type_->Load();
    // The count's edit has no label beside it; a refusal names it by this.
    dialog_.Control(ids::kRegisterCount)
        ->setAccessibleName(QString::fromUtf8(register_messages::kRegisterCountName));
    ConnectHandlers();
}

RegisterPage::~RegisterPage() = default;

void RegisterPage::ConnectHandlers() {
    const auto on = [this](int id, auto handler) {
        dialog_.SetCommandHandler(id, [this, handler] { (this->*handler)(); });
    };
    on(ids::kRead, &RegisterPage::OnRead);
    on(ids::kWrite, &RegisterPage::OnWrite);
    on(ids::kReadMultiple, &RegisterPage::OnReadMultiple);
    on(ids::kWriteMultiple, &RegisterPage::OnWriteMultiple);
    on(ids::kAutoSettings, &RegisterPage::OnAutoSettings);
    on(ids::kClockStart, &RegisterPage::OnClockStart);
    on(ids::kClockStop, &RegisterPage::OnClockStop);
    on(ids::kStartLoop, &RegisterPage::OnStartLoop);
    on(ids::kStopLoop, &RegisterPage::OnStopLoop);
    QObject::connect(clock_timer_.get(), &QTimer::timeout,
                     [this] { RunTick(&RegisterPage::OnClockTimer); });
    QObject::connect(loop_timer_.get(), &QTimer::timeout,
                     [this] { RunTick(&RegisterPage::OnLoopTimer); });
}

// A message box of an operation (a button's, or a tick of either timer)
// lets the window's timers fire, and a tick run then would open and close the
// connection under the operation waiting in the box. Such a tick is dropped,
// not deferred: the loop's timer brings the next one an interval later, the
// clock's timer (still running, as the dropped tick never stopped it) a
// period later, and nothing piles up behind a box left open for long. Each
// tick runs as an operation itself, so a box it shows holds off the other
// timer's ticks in turn. The waits of an operation, which pump the window,
// hold every timer back instead: a tick that comes due during a wait is
// deferred and runs once the operation has ended, once however many periods
// it missed.
void RegisterPage::RunTick(void (RegisterPage::*tick)()) {
    if (dialog_.OperationRunning())
        return;
    dialog_.RunOperation([this, tick] { (this->*tick)(); });
}

std::string RegisterPage::Text(int id) const {
    return dialog_.ControlAs<QLineEdit>(id)->text().toStdString();
}

void RegisterPage::SetText(int id, const std::string& text) {
    const QString shown = QString::fromStdString(text);
    if (auto* edit = dialog_.ControlAs<QLineEdit>(id))
        edit->setText(shown);
    else if (auto* label = dialog_.ControlAs<QLabel>(id))
        label->setText(shown);
}

void RegisterPage::SetEnabled(int id, bool enabled) {
    dialog_.Control(id)->setEnabled(enabled);
}

// A field that holds no number is refused with its name, before anything
// is sent.
std::optional<int> RegisterPage::IntegerIn(int id) {
    const std::optional<int> value = TextToInt(Text(id));
    if (!value)
        Refuse(id);
    return value;
}

void RegisterPage::Refuse(int id) {
    RefuseField(dialog_.Ui(), *dialog_.Control(id), field_messages::kEnterNumber);
}

RegisterType RegisterPage::SelectRegisterType(int address) const {
    const auto checked = [this](int id) {
        return dialog_.ControlAs<QRadioButton>(id)->isChecked();
    };
    const RegisterTypeChoice choice{checked(ids::kRadio16Bit), checked(ids::kRadio32Bit),
                                    checked(ids::kRadioFloat), checked(ids::kRadioAuto)};
    return fc::SelectRegisterType(choice, auto_type_->Ranges(), address);
}

// Read afresh like the type, so a choice made on the "Advanced" page counts
// at the next press on the "Modbus Driver" page without waiting for the
// window's next exchange of its fields.
FloatLayout RegisterPage::SelectedFloatLayout() const {
    const auto checked = [this](int id) {
        return dialog_.ControlAs<QRadioButton>(id)->isChecked();
    };
    return {checked(ids::kRadio2Byte), checked(ids::kRadioLoHi)};
}

void RegisterPage::ShowTraffic(const RegisterOutcome& outcome) {
    SetText(ids::kTransmitMessage, outcome.TxText);
    SetText(ids::kReceiveMessage, outcome.RxText);
}

void RegisterPage::OnRead() {
    const std::optional<int> address = IntegerIn(ids::kAddress);
    if (!address)
        return;
    const RegisterOutcome outcome =
        ReadValue(dialog_.Master(), *address, SelectRegisterType(*address), SelectedFloatLayout());
    if (outcome.Data)
        SetText(ids::kData, *outcome.Data);
    ShowTraffic(outcome);
}

// A text that is no number, or a float the register cannot hold, is refused
// with the number prompt, as the window's float fields refuse it, and nothing
// is sent: infinity written into a unit is never what was typed.
bool RegisterPage::OnWrite() {
    const std::optional<int> address = IntegerIn(ids::kAddress);
    if (!address)
        return false;
    const RegisterType type = SelectRegisterType(*address);
    const std::optional<RegisterValue> value = ValueFromText(Text(ids::kData), type);
    if (!value) {
        Refuse(ids::kData);
        return false;
    }
    ShowTraffic(WriteValue(dialog_.Master(), *address, type, *value, SelectedFloatLayout()));
    return true;
}

void RegisterPage::OnReadMultiple() {
    const std::optional<int> address = IntegerIn(ids::kAddress);
    const std::optional<int> count = address ? IntegerIn(ids::kRegisterCount) : std::nullopt;
    if (count)
        ShowTraffic(ReadBlock(dialog_.Master(), *address, *count));
}

void RegisterPage::OnWriteMultiple() {
    const std::optional<int> address = IntegerIn(ids::kAddress);
    const std::optional<int> count = address ? IntegerIn(ids::kRegisterCount) : std::nullopt;
    if (count)
        ShowTraffic(WriteBlock(dialog_.Master(), *address, *count));
}

void RegisterPage::OnAutoSettings() {
    auto_type_->Open();
}

// A field that does not parse has shown its prompt; the clock starts anyway
// with the period the window holds.
void RegisterPage::OnClockStart() {
    dialog_.SaveFields();
    clock_timer_->start(TimerPeriodMs(dialog_.Fields().UpdatePeriod));
    SetEnabled(ids::kClockStart, false);
    SetEnabled(ids::kClockStop, true);
}

void RegisterPage::OnClockStop() {
    clock_timer_->stop();
    SetEnabled(ids::kClockStart, true);
    SetEnabled(ids::kClockStop, false);
}

void RegisterPage::OnClockTimer() {
    // No tick may arrive while the update runs.
    clock_timer_->stop();
    const MainFields& fields = dialog_.Fields();
    const ClockSettings clock{fields.ClockRegister, fields.DateRegister,
                              IncreaseFromIndex(fields.IncreaseBy)};
    const bool updated = UpdateClock(dialog_.Master(), clock, [this](const ClockReading& reading) {
        SetText(ids::kTimeDisplay, FormatClock(reading.Clock));
        SetText(ids::kDateDisplay, FormatDate(reading.Date));
    });
    if (!updated) {
        OnClockStop();
        return;
    }
    clock_timer_->start(TimerPeriodMs(dialog_.Fields().UpdatePeriod));
}

void RegisterPage::OnStartLoop() {
    if (!dialog_.SaveFields())
        return;
    loop_timer_->start(TimerPeriodMs(dialog_.Fields().LoopInterval));
    SetEnabled(ids::kStartLoop, false);
    SetEnabled(ids::kStopLoop, true);
}

void RegisterPage::OnStopLoop() {
    loop_timer_->stop();
    SetEnabled(ids::kStartLoop, true);
    SetEnabled(ids::kStopLoop, false);
}

// A field that does not parse (a loop field, "Data" or "Address") is refused
// by name once, and the loop stops: it writes nothing it was not given.
void RegisterPage::OnLoopTimer() {
    if (!dialog_.SaveFields()) {
        OnStopLoop();
        return;
    }
    const MainFields& fields = dialog_.Fields();
    const std::optional<std::string> next =
        NextLoopData(Text(ids::kData), fields.DataIncrement, fields.HiLimit, fields.LowLimit);
    if (!next) {
        OnStopLoop();
        Refuse(ids::kData);
        return;
    }
    SetText(ids::kData, *next);
    if (!OnWrite())
        OnStopLoop();
}

}  // namespace fc
