#include "watch/watch_window.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <utility>

#include "modbus/modbus_master.h"
#include "platform/application_title.h"
#include "platform/profile.h"
#include "platform/user_interface_relay.h"
#include "registers/register_types.h"
#include "ui/main_dialog_template.h"
#include "ui/page_host.h"
#include "ui/scoped_event_filter.h"
#include "ui/window_placement.h"
#include "watch/watch_chart.h"
#include "watch/watch_messages.h"

namespace fc {

namespace m = watch_messages;

namespace {

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// A trend of a day at ten polls a second would hold 864,000 points a row;
// this many are plenty for a chart a few hundred pixels wide.
constexpr size_t kMaxHistoryPoints = 20000;
// The driver's waits pump far more often than input needs answering.
constexpr std::chrono::milliseconds kPumpInterval{20};
// Ages count in tenths of a second at first; a few redraws a second follow them.
constexpr std::chrono::milliseconds kAgesInterval{250};
constexpr double kBreak = std::numeric_limits<double>::quiet_NaN();

// The colours of a value's state; its text says the same (see LastGoodText).
const QColor kFailedColour(0xc0, 0x00, 0x00);
const QColor kStaleColour(0xa0, 0x60, 0x00);
const QColor kRetryingColour(0x70, 0x70, 0x70);

QString AgeText(std::chrono::system_clock::duration age) {
    const double seconds = std::max(0.0, std::chrono::duration<double>(age).count());
    if (seconds < 10)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    if (seconds < 120)
        return QStringLiteral("%1 s").arg(static_cast<int>(seconds));
    if (seconds < 7200)
        return QStringLiteral("%1 min").arg(static_cast<int>(seconds / 60));
    return QStringLiteral("%1 h").arg(static_cast<int>(seconds / 3600));
}

struct SpanChoice {
    const char* text;
    int seconds;
};
constexpr SpanChoice kSpans[] = {{"1 min", 60},      {"5 min", 300},    {"15 min", 900},
                                 {"1 h", 3600},      {"6 h", 6 * 3600}, {"24 h", 24 * 3600}};

qint64 MsSinceEpoch(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

bool IsInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
            return true;
        default:
            return false;
    }
}

bool StartsSomething(QEvent::Type type) {
    return type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
           type == QEvent::KeyPress || type == QEvent::ContextMenu;
}

}  // namespace

// Answers for the driver while a poll runs: boxes get the answer of nobody
// there (Cancel), and are remembered for the status line; nothing else of
// the main window's changes (cursor, status, progress). Its pump lets the
// input through that the watch window filters.
class WatchWindow::PollUserInterface : public UserInterface {
  public:
    explicit PollUserInterface(std::function<void()> pump) : pump_(std::move(pump)) {}
    MessageAnswer ShowMessage(const MessageBox& box) override {
        last_message = box.text;
        return UnattendedAnswer(box.buttons);
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void SetStatusText(std::string_view) override {}
    void SetProgressRange(int, int) override {}
    void SetProgressPosition(int) override {}
    void SetProgressText(int, std::string_view) override {}
    void PumpPaintMessages() override { pump_(); }

    std::string last_message;

  private:
    std::function<void()> pump_;
};

struct WatchWindow::HeldInput {
    QPointer<QObject> target;
    std::unique_ptr<QEvent> event;
};

WatchWindow::WatchWindow(PageHost& host, UserInterfaceRelay& driver_ui, QWidget* parent)
    : QDialog(parent), host_(host), driver_ui_(driver_ui), setup_(LoadWatchSetup(host.Store())) {
    setWindowTitle(Utf8(m::kCaption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setModal(false);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &WatchWindow::PollTick);
    ages_ = new QTimer(this);
    ages_->setInterval(kAgesInterval);
    connect(ages_, &QTimer::timeout, this, &WatchWindow::RedrawTable);
    BuildWidgets();
    choose_path_ = [this](bool save, const QString& caption, const QString& filter) {
        return save ? QFileDialog::getSaveFileName(this, caption, {}, filter)
                    : QFileDialog::getOpenFileName(this, caption, {}, filter);
    };
    ask_value_ = [this](const QString& prompt, const QString& current) {
        bool ok = false;
        const QString text = QInputDialog::getText(this, Utf8(m::kWriteTitle), prompt,
                                                   QLineEdit::Normal, current, &ok);
        return ok ? text : QString();
    };
    confirm_ = [this](const QString& question) {
        return QMessageBox::question(this, QString::fromStdString(ApplicationTitle()), question,
                                     QMessageBox::Yes | QMessageBox::No,
                                     QMessageBox::No) == QMessageBox::Yes;
    };
    SetIntervalMs(setup_.IntervalMs);
    SetSpanSeconds(setup_.SpanSeconds);
    SetRows(setup_.Rows);
    ready_ = true;
}

WatchWindow::~WatchWindow() = default;

QChart* WatchWindow::Chart() const {
    return chart_->Chart();
}

void WatchWindow::BuildWidgets() {
    table_ = new QTableWidget(0, kColumnCount, this);
    const char* const titles[kColumnCount] = {m::kName,    m::kUnit,     m::kAddress, m::kType,
                                              m::kValue,   m::kMinimum,  m::kMaximum, m::kMean,
                                              m::kLastGood, m::kFailed,  m::kForm};
    QStringList headers;
    for (const char* title : titles)
        headers << Utf8(title);
    table_->setHorizontalHeaderLabels(headers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Moving with the keys leaves the chosen rows chosen (Space or a click
    // adds or drops one), and Tab leaves the table as it leaves any control.
    table_->setSelectionMode(QAbstractItemView::MultiSelection);
    table_->setTabKeyNavigation(false);
    table_->installEventFilter(this);
    table_->setWordWrap(false);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setStretchLastSection(true);
    connect(table_, &QTableWidget::itemChanged, this, &WatchWindow::OnItemChanged);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &WatchWindow::RebuildChart);
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int, int column) {
        if (column == kValue)
            WhenIdle([this] { WriteCurrentRow(); });
    });

    chart_ = new WatchChart(this);

    auto* open = new QPushButton(Utf8(m::kOpenList), this);
    auto* save = new QPushButton(Utf8(m::kSaveList), this);
    auto* add = new QPushButton(Utf8(m::kAddRow), this);
    auto* remove = new QPushButton(Utf8(m::kRemoveRows), this);
    auto* write = new QPushButton(Utf8(m::kWriteValue), this);
    interval_ = new QDoubleSpinBox(this);
    interval_->setRange(kMinIntervalMs / 1000.0, kMaxIntervalMs / 1000.0);
    interval_->setDecimals(1);
    interval_->setSingleStep(0.1);
    interval_->setSuffix(Utf8(m::kSeconds));
    start_button_ = new QPushButton(Utf8(m::kStart), this);
    stop_button_ = new QPushButton(Utf8(m::kStop), this);
    auto* reset = new QPushButton(Utf8(m::kResetStatistics), this);
    log_button_ = new QPushButton(Utf8(m::kLogToFile), this);
    span_ = new QComboBox(this);
    for (const SpanChoice& choice : kSpans)
        span_->addItem(Utf8(choice.text), choice.seconds);
    auto* close = new QPushButton(Utf8(m::kClose), this);
    status_ = new QLabel(Utf8(m::kStopped), this);
    status_->setTextFormat(Qt::PlainText);
    for (QPushButton* button : {open, save, add, remove, write, start_button_, stop_button_,
                                reset, log_button_, close})
        button->setAutoDefault(false);
    auto* span_label = new QLabel(Utf8(m::kSpan), this);
    span_label->setBuddy(span_);
    auto* interval_label = new QLabel(Utf8(m::kInterval), this);
    interval_label->setBuddy(interval_);

    auto* list_row = new QHBoxLayout;
    for (QWidget* widget : std::initializer_list<QWidget*>{open, save, add, remove, write})
        list_row->addWidget(widget);
    list_row->addStretch(1);
    list_row->addWidget(span_label);
    list_row->addWidget(span_);
    auto* poll_row = new QHBoxLayout;
    poll_row->addWidget(interval_label);
    for (QWidget* widget :
         std::initializer_list<QWidget*>{interval_, start_button_, stop_button_, reset, log_button_})
        poll_row->addWidget(widget);
    poll_row->addStretch(1);
    poll_row->addWidget(close);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(table_);
    splitter->addWidget(chart_);
    // The chart takes most of the height: its axes need room for their
    // labels, or it draws "..." for them.
    const int line = fontMetrics().height();
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({line * 7, line * 14});
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(list_row);
    layout->addWidget(splitter, 1);
    layout->addLayout(poll_row);
    layout->addWidget(status_);
    // Reading order, whatever order the widgets were made in.
    QWidget* order[] = {open, save, add, remove, write, span_, table_, chart_,
                        chart_->FreezeButton(), interval_, start_button_, stop_button_, reset,
                        log_button_, close};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    preferred_size_ = QSize(fontMetrics().averageCharWidth() * 170, fontMetrics().height() * 40);
    resize(preferred_size_);

    const auto ask = [this](bool save_file, const char* caption, const char* filter) {
        return choose_path_(save_file, Utf8(caption).remove('&'), Utf8(filter));
    };
    connect(open, &QPushButton::clicked, this, [this, ask] {
        WhenIdle([this, ask] {
            const QString path = ask(false, m::kOpenList, m::kListFilter);
            if (!path.isEmpty())
                OpenList(path);
        });
    });
    connect(save, &QPushButton::clicked, this, [this, ask] {
        WhenIdle([this, ask] {
            const QString path = ask(true, m::kSaveList, m::kListFilter);
            if (!path.isEmpty())
                SaveList(path);
        });
    });
    connect(add, &QPushButton::clicked, this, [this] {
        WhenIdle([this] {
            std::vector<WatchRow> rows = setup_.Rows;
            WatchRow row;
            row.Address = rows.empty() ? 0 : rows.back().Address + 1;
            rows.push_back(row);
            SetRows(rows);
        });
    });
    connect(remove, &QPushButton::clicked, this, [this] {
        WhenIdle([this] {
            std::vector<WatchRow> rows;
            for (int i = 0; i < static_cast<int>(setup_.Rows.size()); ++i)
                if (!table_->selectionModel()->isRowSelected(i, {}))
                    rows.push_back(setup_.Rows[static_cast<size_t>(i)]);
            SetRows(rows);
        });
    });
    connect(write, &QPushButton::clicked, this, [this] { WhenIdle([this] { WriteCurrentRow(); }); });
    connect(interval_, &QDoubleSpinBox::valueChanged, this,
            [this](double seconds) { SetIntervalMs(static_cast<int>(seconds * 1000 + 0.5)); });
    connect(span_, &QComboBox::currentIndexChanged, this,
            [this](int index) { SetSpanSeconds(span_->itemData(index).toInt()); });
    connect(start_button_, &QPushButton::clicked, this, &WatchWindow::Start);
    connect(stop_button_, &QPushButton::clicked, this, &WatchWindow::Stop);
    connect(reset, &QPushButton::clicked, this, [this] { WhenIdle([this] { ResetStatistics(); }); });
    connect(log_button_, &QPushButton::clicked, this, [this] { WhenIdle([this] { OnLogButton(); }); });
    connect(close, &QPushButton::clicked, this, &QDialog::close);
}

void WatchWindow::OpenBeside(const QWidget& anchor) {
    fc::OpenBeside(*this, anchor, preferred_size_);
}

void WatchWindow::SetRows(std::vector<WatchRow> rows) {
    // A log's columns are the rows it began with.
    if (log_.IsOpen() && rows != setup_.Rows)
        StopLog();
    setup_.Rows = std::move(rows);
    statistics_.assign(setup_.Rows.size(), {});
    history_.assign(setup_.Rows.size(), {});
    last_failed_.assign(setup_.Rows.size(), false);
    retrying_.assign(setup_.Rows.size(), {});
    RebuildPoller();
    FillTable();
    RebuildChart();
    SaveSetup();
}

void WatchWindow::SetIntervalMs(int ms) {
    setup_.IntervalMs = std::clamp(ms, kMinIntervalMs, kMaxIntervalMs);
    timer_->setInterval(setup_.IntervalMs);
    const QSignalBlocker quiet(interval_);
    interval_->setValue(setup_.IntervalMs / 1000.0);
    SaveSetup();
}

void WatchWindow::SetSpanSeconds(int seconds) {
    setup_.SpanSeconds = std::clamp(seconds, kMinSpanSeconds, kMaxSpanSeconds);
    const QSignalBlocker quiet(span_);
    int best = 0;
    for (int i = 0; i < span_->count(); ++i)
        if (span_->itemData(i).toInt() <= setup_.SpanSeconds)
            best = i;
    span_->setCurrentIndex(best);
    setup_.SpanSeconds = span_->itemData(best).toInt();
    RebuildChart();
    SaveSetup();
}

// Auto rows follow the Auto ranges and the "(LO/HI)" button as they stand
// when polling starts or the list changes.
void WatchWindow::RebuildPoller() {
    RegisterTypeRanges ranges;
    LoadRegisterTypeRanges(ranges, host_.Store());
    const auto* lohi = host_.ControlAs<QRadioButton>(ids::kRadioLoHi);
    const bool low_word_first = lohi && lohi->isChecked();
    std::vector<PolledRow> rows;
    for (const WatchRow& row : setup_.Rows)
        rows.push_back(ResolveRow(row, ranges, low_word_first));
    poller_ = std::make_unique<WatchPoller>(std::move(rows));
    poller_->SetProgress({[this](const BlockRead& block) { OnBlockRead(block); },
                          [this](const BlockRead& block, int failed, int attempts) {
                              OnRetrying(block, failed, attempts);
                          }});
}

// During a poll the profile waits for the poll's end: its box, if the file
// cannot be written, must not be answered by the poll's stand-in.
void WatchWindow::SaveSetup() {
    if (in_poll_)
        save_pending_ = true;
    if (in_poll_ || !ready_)
        return;
    SaveWatchSetup(setup_, host_.Store());
    SyncAndReport(host_.Store(), host_.Ui());
}

bool WatchWindow::Polling() const {
    return timer_->isActive();
}

void WatchWindow::Start() {
    if (setup_.Rows.empty() || Polling())
        return;
    WhenIdle([this] {
        RebuildPoller();
        timer_->start();
        ages_->start();
        start_button_->setEnabled(false);
        SetStatus(Utf8(m::kPolling).arg(poller_->Plan().size()).arg(0));
        QTimer::singleShot(0, this, &WatchWindow::PollTick);
    });
}

void WatchWindow::Stop() {
    timer_->stop();
    ages_->stop();
    stop_.Raise(SIGINT);
    start_button_->setEnabled(true);
    retrying_.assign(retrying_.size(), {});
    BreakAllLines();
    RedrawTable();
    RebuildChart();
    SetStatus(Utf8(m::kStopped));
}

// No line of the chart joins across a time without readings.
void WatchWindow::BreakAllLines() {
    const auto now = static_cast<double>(MsSinceEpoch(std::chrono::system_clock::now()));
    for (std::deque<QPointF>& points : history_)
        if (!points.empty() && !std::isnan(points.back().y()))
            points.emplace_back(now, kBreak);
}

void WatchWindow::WhenIdle(std::function<void()> action) {
    if (!in_poll_) {
        action();
        return;
    }
    stop_.Raise(SIGINT);
    after_poll_.push_back(std::move(action));
}

void WatchWindow::PollTick() {
    if (in_poll_ || !Polling() || !poller_)
        return;
    if (host_.OperationRunning()) {
        BreakAllLines();
        SetStatus(Utf8(m::kPaused));
        return;
    }
    host_.RunOperation([this] { RunPoll(); });
    // What the user asked of this window meanwhile runs now, outside the
    // operation: a file dialog must not hold the window's operations.
    if (std::exchange(save_pending_, false))
        SaveSetup();
    std::vector<std::function<void()>> actions;
    actions.swap(after_poll_);
    for (const auto& action : actions)
        action();
}

void WatchWindow::RunPoll() {
    in_poll_ = true;
    stop_.Clear();
    PollUserInterface stand_in([this] { PumpDuringPoll(); });
    const auto started = std::chrono::steady_clock::now();
    {
        const UserInterfaceRelay::Redirect unattended(driver_ui_, &stand_in);
        const ScopedEventFilter hold_main_window_input(*qApp, *this);
        const ModbusMaster::StopScope stoppable(host_.Master(), &stop_);
        poller_->Poll(host_.Master());
    }
    in_poll_ = false;
    // A poll cut short says nothing more of the unit than the reads it
    // finished have shown.
    if (!stop_.Raised())
        EndPoll(stand_in.last_message, std::chrono::steady_clock::now() - started);
    ReplayHeldInput();
    emit PollEnded();
}

// The log's line carries the time the poll ended, so a poll that waited on
// a silent unit for half a minute is logged when its failure was known.
void WatchWindow::EndPoll(const std::string& last_message,
                          std::chrono::steady_clock::duration took) {
    const auto ended = std::chrono::system_clock::now();
    // A line the disk did not take stops the log, which says why.
    if (log_.IsOpen() && !log_.Append(ended, poller_->Rows(), poller_->Readings()))
        StopLog();
    QString status = Utf8(m::kPolling)
                         .arg(poller_->Transactions())
                         .arg(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
    if (!last_message.empty())
        status += "  " + Utf8(m::kLastFailure).arg(QString::fromStdString(last_message));
    SetStatus(status);
    RebuildChart();
}

void WatchWindow::OnBlockRead(const BlockRead& block) {
    const auto time = std::chrono::system_clock::now();
    const auto x = static_cast<double>(MsSinceEpoch(time));
    for (const size_t index : block.Rows) {
        if (index >= statistics_.size())
            continue;
        const RowReading& reading = poller_->Readings()[index];
        statistics_[index].Add(reading, time);
        last_failed_[index] = !reading.Ok;
        retrying_[index].clear();
        std::deque<QPointF>& points = history_[index];
        if (reading.Ok || (!points.empty() && !std::isnan(points.back().y())))
            points.emplace_back(x, reading.Ok ? reading.Value : kBreak);
        if (points.size() > kMaxHistoryPoints)
            points.pop_front();
        ShowRow(static_cast<int>(index));
    }
    FitColumns();
}

void WatchWindow::OnRetrying(const BlockRead& block, int failed, int attempts) {
    const QString text = Utf8(m::kRetrying).arg(failed + 1).arg(attempts);
    for (const size_t index : block.Rows) {
        if (index < retrying_.size())
            retrying_[index] = text;
        ShowRow(static_cast<int>(index));
    }
    SetStatus(Utf8(m::kRetryingStatus).arg(block.Start).arg(failed + 1).arg(attempts));
    FitColumns();
}

// Everything but timers: the window system, paint and input. Input for the
// main window is held back by the filter. The ages go on counting.
void WatchWindow::PumpDuringPoll() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_pump_ < kPumpInterval)
        return;
    last_pump_ = now;
    if (now - last_ages_ >= kAgesInterval)
        RedrawTable();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::X11ExcludeTimers);
}

// Ctrl+Tab leaves the table as Tab does. During a poll, input for the main
// window ends the poll and is handed on when the poll has returned.
bool WatchWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == table_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) &&
            (key->modifiers() & Qt::ControlModifier)) {
            focusNextPrevChild(key->key() == Qt::Key_Tab &&
                               !(key->modifiers() & Qt::ShiftModifier));
            return true;
        }
    }
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!in_poll_ || !widget || !IsInput(event->type()) || widget->window() != host_.Window())
        return QDialog::eventFilter(watched, event);
    if (StartsSomething(event->type()))
        stop_.Raise(SIGINT);
    if (event->type() != QEvent::MouseMove && event->type() != QEvent::ShortcutOverride)
        held_input_.push_back({widget, std::unique_ptr<QEvent>(event->clone())});
    return true;
}

void WatchWindow::ReplayHeldInput() {
    for (HeldInput& held : held_input_)
        if (held.target)
            QCoreApplication::postEvent(held.target, held.event.release());
    held_input_.clear();
}

void WatchWindow::FillTable() {
    const QSignalBlocker quiet(table_);
    table_->setRowCount(static_cast<int>(setup_.Rows.size()));
    for (int i = 0; i < table_->rowCount(); ++i) {
        const WatchRow& row = setup_.Rows[static_cast<size_t>(i)];
        const QString texts[] = {QString::fromStdString(row.Name),
                                 row.UnitId != 0 ? QString::number(row.UnitId) : QString(),
                                 QString::number(row.Address), Utf8(WatchTypeWord(row.Type))};
        for (int column = 0; column < kColumnCount; ++column) {
            const bool edited = Edited(column);
            auto* item = new QTableWidgetItem(
                column == kForm ? QString::fromStdString(FormWords(row.Form))
                : edited        ? texts[column]
                                : QString());
            if (!edited)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            if (column != kName && column != kType && column != kLastGood && column != kForm)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(i, column, item);
        }
    }
    RedrawTable();
}

// The columns that say what a row is, which the list's line holds.
bool WatchWindow::Edited(int column) {
    return column <= kType || column == kForm;
}

bool WatchWindow::Stale(int row) const {
    const auto& last = statistics_[static_cast<size_t>(row)].LastGood;
    return last && std::chrono::system_clock::now() - *last >
                       2 * std::chrono::milliseconds(setup_.IntervalMs);
}

// What became of the row's last good value: how old it is, whether it is
// stale, whether the last read failed or a read is being retried.
QString WatchWindow::LastGoodText(int row, bool stale) const {
    const auto index = static_cast<size_t>(row);
    const auto& last = statistics_[index].LastGood;
    QString text;
    if (last)
        text = Utf8(stale ? m::kStale : m::kAgo).arg(AgeText(std::chrono::system_clock::now() - *last));
    if (last_failed_[index] && last)
        text = Utf8(m::kLastReadFailed).arg(text);
    if (!retrying_[index].isEmpty())
        text = text.isEmpty() ? retrying_[index] : retrying_[index] + ", " + text;
    return text;
}

void WatchWindow::ShowRow(int row) {
    const auto index = static_cast<size_t>(row);
    if (!poller_ || index >= statistics_.size())
        return;
    const RowStatistics& stats = statistics_[index];
    const PolledRow& polled = poller_->Rows()[index];
    const auto shown = [&](double value) {
        return stats.Good == 0 ? QString()
                               : QString::fromStdString(ShownText(polled, {true, value}));
    };
    const QSignalBlocker quiet(table_);
    const bool stale = Stale(row);
    QTableWidgetItem* value = table_->item(row, kValue);
    const bool never_good = stats.Good == 0 && last_failed_[index];
    value->setText(never_good ? Utf8(m::kFailedValue) : shown(stats.LastValue));
    QColor colour;
    if (last_failed_[index])
        colour = kFailedColour;
    else if (stale)
        colour = kStaleColour;
    else if (!retrying_[index].isEmpty())
        colour = kRetryingColour;
    const QBrush brush = colour.isValid() ? QBrush(colour) : QBrush();
    value->setForeground(brush);
    table_->item(row, kMinimum)->setText(shown(stats.Minimum));
    table_->item(row, kMaximum)->setText(shown(stats.Maximum));
    table_->item(row, kMean)->setText(
        stats.Good == 0 ? QString() : QString::fromStdString(MeanText(polled, stats.Mean())));
    QTableWidgetItem* last_good = table_->item(row, kLastGood);
    last_good->setText(LastGoodText(row, stale));
    last_good->setForeground(brush);
    last_good->setToolTip(
        stats.LastGood ? QDateTime::fromMSecsSinceEpoch(MsSinceEpoch(*stats.LastGood))
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                       : QString());
    table_->item(row, kFailed)->setText(QString::number(stats.Failed));
}

// Every row and the columns' widths at once: cells drawn one by one while a
// poll waits would keep widths the new texts outgrew.
void WatchWindow::RedrawTable() {
    last_ages_ = std::chrono::steady_clock::now();
    for (int i = 0; i < table_->rowCount(); ++i)
        ShowRow(i);
    FitColumns();
}

void WatchWindow::FitColumns() {
    for (int column = 0; column < kColumnCount - 1; ++column)
        table_->resizeColumnToContents(column);
    table_->viewport()->update();
}

// An edited name, unit, address, type or form is read as a list line would
// be; a cell that does not read goes back to what it was.
void WatchWindow::OnItemChanged(QTableWidgetItem* item) {
    if (!Edited(item->column()))
        return;
    const int row = item->row();
    const auto text = [&](int column) { return table_->item(row, column)->text().trimmed().toStdString(); };
    const std::string unit = text(kUnit);
    const std::string line = text(kAddress) + " " + text(kType) +
                             (unit.empty() ? "" : " unit=" + unit) + " " + text(kForm) + " " +
                             text(kName);
    std::string error;
    const auto parsed = ParseWatchList(line, error);
    WhenIdle([this, row, parsed] {
        std::vector<WatchRow> rows = setup_.Rows;
        const bool same_words = parsed && parsed->size() == 1;
        if (same_words && static_cast<size_t>(row) < rows.size())
            rows[static_cast<size_t>(row)] = parsed->front();
        SetRows(rows);
    });
}

// The value is asked in what the row shows (its engineering value) and read
// by the register page's rules; nothing reaches the unit unconfirmed.
bool WatchWindow::WriteCurrentRow() {
    const int row = table_->currentRow();
    if (row < 0 || static_cast<size_t>(row) >= setup_.Rows.size() || !poller_)
        return false;
    const WatchRow& watched = setup_.Rows[static_cast<size_t>(row)];
    const PolledRow polled = poller_->Rows()[static_cast<size_t>(row)];
    const RowStatistics& stats = statistics_[static_cast<size_t>(row)];
    const bool numeric = polled.Form.Show != WatchShow::Hex && polled.Form.Show != WatchShow::Bits;
    const QString current =
        stats.Good == 0 ? QString()
        : numeric       ? QString::fromStdString(ReadingText(polled, {true, stats.LastValue}))
                        : QString::number(stats.LastValue, 'f', 0);
    const QString title = QString::fromStdString(RowTitleWithUnit(watched));
    const QString typed =
        ask_value_(Utf8(m::kWritePrompt).arg(title).arg(watched.Address), current);
    if (typed.isEmpty())
        return false;
    std::string prompt;
    const std::optional<RegisterValue> value = RowValueFromText(polled, typed.toStdString(), prompt);
    if (!value) {
        QMessageBox::warning(this, QString::fromStdString(ApplicationTitle()),
                             QString::fromStdString(prompt));
        return false;
    }
    const int unit = polled.UnitId != 0 ? polled.UnitId : host_.Settings().UnitId;
    if (!confirm_(Utf8(m::kWriteConfirm).arg(typed, title).arg(watched.Address).arg(unit)))
        return false;
    bool written = false;
    host_.RunOperation([&] { written = WriteRow(host_.Master(), polled, *value); });
    SetStatus(Utf8(written ? m::kWritten : m::kNotWritten).arg(typed, title));
    return written;
}

void WatchWindow::ResetStatistics() {
    statistics_.assign(setup_.Rows.size(), {});
    last_failed_.assign(setup_.Rows.size(), false);
    RedrawTable();
}

bool WatchWindow::OpenList(const QString& path) {
    std::string error;
    const auto rows = ReadWatchFile(path.toStdString(), error);
    if (!rows) {
        Report(m::kUnreadable, path, QString::fromStdString(error));
        return false;
    }
    SetRows(*rows);
    return true;
}

bool WatchWindow::SaveList(const QString& path) {
    std::string error;
    if (!WriteWatchFile(path.toStdString(), setup_.Rows, error)) {
        Report(m::kUnwritten, path, QString::fromStdString(error));
        return false;
    }
    return true;
}

bool WatchWindow::StartLog(const QString& path) {
    std::vector<std::string> titles;
    for (const WatchRow& row : setup_.Rows)
        titles.push_back(RowTitleWithUnit(row));
    std::string error;
    if (!log_.Open(path.toStdString(), titles, error)) {
        Report(m::kUnwritten, path, QString::fromStdString(error));
        return false;
    }
    log_button_->setText(Utf8(m::kStopLog));
    log_button_->setToolTip(Utf8(m::kLogging).arg(path));
    return true;
}

// A log cut short by a full disk says so, whoever stopped it.
void WatchWindow::StopLog() {
    const bool written = log_.Close();
    log_button_->setText(Utf8(m::kLogToFile));
    log_button_->setToolTip({});
    if (!written) {
        Report(m::kUnwritten, QString::fromStdString(log_.Path()),
               QString::fromStdString(log_.Failure()));
    }
}

void WatchWindow::OnLogButton() {
    if (log_.IsOpen()) {
        StopLog();
        return;
    }
    const QString path = choose_path_(true, Utf8(m::kLogToFile).remove('&'), Utf8(m::kCsvFilter));
    if (!path.isEmpty())
        StartLog(path);
}

void WatchWindow::Report(const char* format, const QString& path, const QString& reason) {
    QMessageBox::warning(this, QString::fromStdString(ApplicationTitle()),
                         Utf8(format).arg(path, reason));
}

void WatchWindow::SetStatus(const QString& text) {
    status_->setText(text);
}

void WatchWindow::RebuildChart() {
    QList<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    std::vector<ChartRow> shown;
    for (const int row : rows) {
        const auto index = static_cast<size_t>(row);
        if (index >= history_.size() || !poller_)
            continue;
        const WatchRow& watched = setup_.Rows[index];
        const PolledRow polled = poller_->Rows()[index];
        shown.push_back({QString::fromStdString(RowTitle(watched)),
                         QString::fromStdString(watched.Form.Unit), &history_[index],
                         [polled](double value) {
                             return QString::fromStdString(ShownText(polled, {true, value}));
                         }});
    }
    chart_->Show(std::move(shown), MsSinceEpoch(std::chrono::system_clock::now()),
                 setup_.SpanSeconds * 1000LL);
}

// Closing the window ends the watch: nothing polls a unit out of sight.
// Minimising it (a hide the window system makes) does not.
void WatchWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous())
        Stop();
    QDialog::hideEvent(event);
}

}  // namespace fc
