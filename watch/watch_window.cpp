#include "watch/watch_window.h"

#include <QApplication>
#include <QChart>
#include <QChartView>
#include <QHideEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>
#include <algorithm>
#include <csignal>
#include <utility>

#include "modbus/modbus_master.h"
#include "platform/application_title.h"
#include "platform/profile.h"
#include "platform/user_interface_relay.h"
#include "registers/register_types.h"
#include "ui/main_dialog_template.h"
#include "ui/page_host.h"
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
    BuildWidgets();
    choose_path_ = [this](bool save, const QString& caption, const QString& filter) {
        return save ? QFileDialog::getSaveFileName(this, caption, {}, filter)
                    : QFileDialog::getOpenFileName(this, caption, {}, filter);
    };
    SetIntervalMs(setup_.IntervalMs);
    SetSpanSeconds(setup_.SpanSeconds);
    SetRows(setup_.Rows);
    ready_ = true;
}

WatchWindow::~WatchWindow() = default;

void WatchWindow::BuildWidgets() {
    table_ = new QTableWidget(0, kColumnCount, this);
    const char* const titles[kColumnCount] = {m::kName,    m::kAddress, m::kType,
                                              m::kValue,   m::kMinimum, m::kMaximum,
                                              m::kMean,    m::kLastGood, m::kFailed};
    QStringList headers;
    for (const char* title : titles)
        headers << Utf8(title);
    table_->setHorizontalHeaderLabels(headers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    connect(table_, &QTableWidget::itemChanged, this, &WatchWindow::OnItemChanged);
    connect(table_, &QTableWidget::itemSelectionChanged, this, &WatchWindow::RebuildChart);

    chart_ = new QChart;
    chart_->setMargins(QMargins(4, 4, 4, 4));
    chart_->legend()->setAlignment(Qt::AlignBottom);
    time_axis_ = new QDateTimeAxis(chart_);
    time_axis_->setFormat(QStringLiteral("HH:mm:ss"));
    time_axis_->setTickCount(5);
    value_axis_ = new QValueAxis(chart_);
    chart_->addAxis(time_axis_, Qt::AlignBottom);
    chart_->addAxis(value_axis_, Qt::AlignLeft);
    chart_->setTitle(Utf8(m::kChartHint));
    chart_view_ = new QChartView(chart_, this);
    chart_view_->setRenderHint(QPainter::Antialiasing);
    chart_view_->setMinimumHeight(chart_view_->fontMetrics().height() * 16);

    auto* open = new QPushButton(Utf8(m::kOpenList), this);
    auto* save = new QPushButton(Utf8(m::kSaveList), this);
    auto* add = new QPushButton(Utf8(m::kAddRow), this);
    auto* remove = new QPushButton(Utf8(m::kRemoveRows), this);
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
    for (QPushButton* button : {open, save, add, remove, start_button_, stop_button_, reset,
                                log_button_, close})
        button->setAutoDefault(false);

    auto* list_row = new QHBoxLayout;
    for (QWidget* widget : std::initializer_list<QWidget*>{open, save, add, remove})
        list_row->addWidget(widget);
    list_row->addStretch(1);
    list_row->addWidget(new QLabel(Utf8(m::kSpan), this));
    list_row->addWidget(span_);
    auto* poll_row = new QHBoxLayout;
    poll_row->addWidget(new QLabel(Utf8(m::kInterval), this));
    for (QWidget* widget :
         std::initializer_list<QWidget*>{interval_, start_button_, stop_button_, reset, log_button_})
        poll_row->addWidget(widget);
    poll_row->addStretch(1);
    poll_row->addWidget(close);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(table_);
    splitter->addWidget(chart_view_);
    splitter->setStretchFactor(1, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(list_row);
    layout->addWidget(splitter, 1);
    layout->addLayout(poll_row);
    layout->addWidget(status_);
    resize(fontMetrics().averageCharWidth() * 110, fontMetrics().height() * 40);

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
            rows.push_back({rows.empty() ? 0 : rows.back().Address + 1, WatchType::Auto, ""});
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

void WatchWindow::SetRows(std::vector<WatchRow> rows) {
    // A log's columns are the rows it began with.
    if (log_.IsOpen() && rows != setup_.Rows)
        StopLog();
    setup_.Rows = std::move(rows);
    statistics_.assign(setup_.Rows.size(), {});
    history_.assign(setup_.Rows.size(), {});
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
        start_button_->setEnabled(false);
        SetStatus(Utf8(m::kPolling).arg(poller_->Plan().size()).arg(0));
        QTimer::singleShot(0, this, &WatchWindow::PollTick);
    });
}

void WatchWindow::Stop() {
    timer_->stop();
    stop_.Raise(SIGINT);
    start_button_->setEnabled(true);
    SetStatus(Utf8(m::kStopped));
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
    UserInterface* former = driver_ui_.Target();
    driver_ui_.SetTarget(&stand_in);
    ModbusMaster& master = host_.Master();
    qApp->installEventFilter(this);
    const auto time = std::chrono::system_clock::now();
    const auto started = std::chrono::steady_clock::now();
    {
        const ModbusMaster::StopScope stoppable(master, &stop_);
        poller_->Poll(master);
    }
    const auto took = std::chrono::steady_clock::now() - started;
    qApp->removeEventFilter(this);
    driver_ui_.SetTarget(former);
    in_poll_ = false;
    // A poll cut short says nothing of the unit: it is not counted.
    if (!stop_.Raised()) {
        ShowReadings(time);
        QString status = Utf8(m::kPolling)
                             .arg(poller_->Transactions())
                             .arg(std::chrono::duration_cast<std::chrono::milliseconds>(took).count());
        if (!stand_in.last_message.empty())
            status += "  " + Utf8(m::kLastFailure).arg(QString::fromStdString(stand_in.last_message));
        SetStatus(status);
    }
    ReplayHeldInput();
    emit PollEnded();
}

// Everything but timers: the window system, paint and input. Input for the
// main window is held back by the filter.
void WatchWindow::PumpDuringPoll() {
    const auto now = std::chrono::steady_clock::now();
    if (now - last_pump_ < kPumpInterval)
        return;
    last_pump_ = now;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::X11ExcludeTimers);
}

// Runs only while a poll waits: input for the main window ends the poll and
// is handed on when the poll has returned.
bool WatchWindow::eventFilter(QObject* watched, QEvent* event) {
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

void WatchWindow::ShowReadings(std::chrono::system_clock::time_point time) {
    const std::vector<RowReading>& readings = poller_->Readings();
    for (size_t i = 0; i < readings.size() && i < statistics_.size(); ++i) {
        statistics_[i].Add(readings[i], time);
        if (readings[i].Ok) {
            std::deque<QPointF>& points = history_[i];
            points.emplace_back(static_cast<double>(MsSinceEpoch(time)), readings[i].Value);
            if (points.size() > kMaxHistoryPoints)
                points.pop_front();
        }
        ShowRow(static_cast<int>(i));
    }
    if (log_.IsOpen() && !log_.Append(time, poller_->Rows(), readings))
        StopLog();
    AppendToChart(time);
}

void WatchWindow::FillTable() {
    const QSignalBlocker quiet(table_);
    table_->setRowCount(static_cast<int>(setup_.Rows.size()));
    for (int i = 0; i < table_->rowCount(); ++i) {
        const WatchRow& row = setup_.Rows[static_cast<size_t>(i)];
        const QString texts[] = {QString::fromStdString(row.Name), QString::number(row.Address),
                                 Utf8(WatchTypeWord(row.Type))};
        for (int column = 0; column < kColumnCount; ++column) {
            auto* item = new QTableWidgetItem(column <= kType ? texts[column] : QString());
            if (column > kType)
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
            if (column >= kAddress && column != kType && column != kLastGood)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            table_->setItem(i, column, item);
        }
        ShowRow(i);
    }
}

void WatchWindow::ShowRow(int row) {
    const auto index = static_cast<size_t>(row);
    if (!poller_ || index >= statistics_.size())
        return;
    const RowStatistics& stats = statistics_[index];
    const PolledRow& polled = poller_->Rows()[index];
    const RowReading last = poller_->Readings()[index];
    const auto number = [&](double value) {
        return stats.Good == 0 ? QString()
                               : QString::fromStdString(ReadingText(polled, {true, value}));
    };
    const QSignalBlocker quiet(table_);
    const bool failed_last = stats.Failed > 0 && !last.Ok;
    QTableWidgetItem* value = table_->item(row, kValue);
    value->setText(failed_last ? QStringLiteral("failed")
                               : QString::fromStdString(ReadingText(polled, last)));
    value->setForeground(failed_last ? QBrush(Qt::red) : QBrush());
    table_->item(row, kMinimum)->setText(number(stats.Minimum));
    table_->item(row, kMaximum)->setText(number(stats.Maximum));
    table_->item(row, kMean)->setText(stats.Good == 0 ? QString() : QString::number(stats.Mean(), 'g', 8));
    table_->item(row, kLastGood)
        ->setText(stats.LastGood ? QDateTime::fromMSecsSinceEpoch(MsSinceEpoch(*stats.LastGood))
                                       .toString(QStringLiteral("HH:mm:ss.zzz"))
                                 : QString());
    table_->item(row, kFailed)->setText(QString::number(stats.Failed));
}

// An edited name, address or type is read as a list line would be; a cell
// that does not read goes back to what it was.
void WatchWindow::OnItemChanged(QTableWidgetItem* item) {
    if (item->column() > kType)
        return;
    const int row = item->row();
    const auto text = [&](int column) { return table_->item(row, column)->text().toStdString(); };
    const std::string line = text(kAddress) + " " + text(kType) + " " + text(kName);
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

void WatchWindow::ResetStatistics() {
    statistics_.assign(setup_.Rows.size(), {});
    for (int i = 0; i < table_->rowCount(); ++i)
        ShowRow(i);
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
        titles.push_back(RowTitle(row));
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
    for (QAbstractSeries* series : chart_->series()) {
        chart_->removeSeries(series);
        delete series;
    }
    QList<int> rows;
    for (const QModelIndex& index : table_->selectionModel()->selectedRows())
        rows << index.row();
    std::sort(rows.begin(), rows.end());
    chart_->setTitle(rows.isEmpty() ? Utf8(m::kChartHint) : QString());
    for (const int row : rows) {
        if (static_cast<size_t>(row) >= history_.size())
            continue;
        auto* series = new QLineSeries;
        series->setName(QString::fromStdString(RowTitle(setup_.Rows[static_cast<size_t>(row)])));
        series->setProperty("row", row);
        const std::deque<QPointF>& points = history_[static_cast<size_t>(row)];
        series->replace(QList<QPointF>(points.begin(), points.end()));
        chart_->addSeries(series);
        series->attachAxis(time_axis_);
        series->attachAxis(value_axis_);
    }
    FitChartAxes(MsSinceEpoch(std::chrono::system_clock::now()));
}

void WatchWindow::AppendToChart(std::chrono::system_clock::time_point time) {
    const qint64 now = MsSinceEpoch(time);
    for (QAbstractSeries* abstract : chart_->series()) {
        auto* series = static_cast<QLineSeries*>(abstract);
        const auto row = static_cast<size_t>(series->property("row").toInt());
        if (row < history_.size() && poller_->Readings()[row].Ok)
            series->append(history_[row].back());
        int old = 0;
        const double first = static_cast<double>(now) - setup_.SpanSeconds * 1000.0;
        while (old < series->count() && series->at(old).x() < first)
            ++old;
        if (old > 0)
            series->removePoints(0, old);
    }
    FitChartAxes(now);
}

void WatchWindow::FitChartAxes(qint64 now_ms) {
    time_axis_->setRange(QDateTime::fromMSecsSinceEpoch(now_ms - setup_.SpanSeconds * 1000LL),
                         QDateTime::fromMSecsSinceEpoch(now_ms));
    time_axis_->setFormat(setup_.SpanSeconds > 3600 ? QStringLiteral("HH:mm")
                                                    : QStringLiteral("HH:mm:ss"));
    double low = 0;
    double high = 0;
    bool any = false;
    for (QAbstractSeries* abstract : chart_->series()) {
        for (const QPointF& point : static_cast<QLineSeries*>(abstract)->points()) {
            low = any ? std::min(low, point.y()) : point.y();
            high = any ? std::max(high, point.y()) : point.y();
            any = true;
        }
    }
    const double margin = std::max((high - low) * 0.05, any ? std::abs(high) * 0.01 + 1e-3 : 1.0);
    value_axis_->setRange(low - margin, high + margin);
}

// Closing the window ends the watch: nothing polls a unit out of sight.
// Minimising it (a hide the window system makes) does not.
void WatchWindow::hideEvent(QHideEvent* event) {
    if (!event->spontaneous())
        Stop();
    QDialog::hideEvent(event);
}

}  // namespace fc
