#pragma once

#include <QDialog>
#include <QPointF>
#include <QPointer>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "platform/stop_request.h"
#include "watch/watch_list.h"
#include "watch/watch_log.h"
#include "watch/watch_poller.h"

class QChart;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

namespace fc {

class PageHost;
class UserInterfaceRelay;
class WatchChart;

// The Watch window: the rows of a watch list polled on a timer, with their
// value in each row's form, statistics, failures and the age of the last
// good value, a trend chart of the rows selected, and a CSV log. A row's
// outcome shows as its block read ends, a read being retried says so, and a
// value older than two intervals shows as stale. Not modal. Polls use the window's driver and live settings as an
// operation of the window: polling pauses while another operation runs, and
// a poll never opens a box. While a poll waits on the unit this window takes
// input (Stop ends the wait within a slice); input meant for the main window
// ends the poll at once and reaches the main window when it has ended, so
// nothing of the main window starts inside a transaction.
class WatchWindow : public QDialog {
    Q_OBJECT

  public:
    // Asks for a file to open (save false) or to write; empty cancels.
    using PathChooser =
        std::function<QString(bool save, const QString& caption, const QString& filter)>;

    enum Column {
        kName, kUnit, kAddress, kType, kValue, kMinimum, kMaximum, kMean, kLastGood, kFailed,
        kForm, kColumnCount
    };
    // Asks for a value to write (empty cancels) and whether to write it.
    using ValueAsker = std::function<QString(const QString& prompt, const QString& current)>;
    using Confirmer = std::function<bool(const QString& question)>;

    // `driver_ui` answers for the driver; a poll points it at an unattended
    // stand-in and back.
    WatchWindow(PageHost& host, UserInterfaceRelay& driver_ui, QWidget* parent = nullptr);
    ~WatchWindow() override;

    void SetPathChooser(PathChooser chooser) { choose_path_ = std::move(chooser); }
    void SetValueAsker(ValueAsker ask, Confirmer confirm) {
        ask_value_ = std::move(ask);
        confirm_ = std::move(confirm);
    }
    // Shows the window, placed beside `anchor` as it opens, in front.
    void OpenBeside(const QWidget& anchor);

    void SetRows(std::vector<WatchRow> rows);
    const std::vector<WatchRow>& Rows() const { return setup_.Rows; }
    // Held within 0.1 s to 1 hour.
    void SetIntervalMs(int ms);
    void SetSpanSeconds(int seconds);

    void Start();
    void Stop();
    void ResetStatistics();
    // The buttons' file work; false (after saying why) when a file fails.
    bool OpenList(const QString& path);
    bool SaveList(const QString& path);
    bool StartLog(const QString& path);
    void StopLog();
    // Asks for a value for the current row and writes it once confirmed;
    // false when nothing was written.
    bool WriteCurrentRow();

    bool Polling() const;
    bool PollUnderWay() const { return in_poll_; }
    const std::vector<RowStatistics>& Statistics() const { return statistics_; }
    QTableWidget* Table() const { return table_; }
    QPushButton* StopButton() const { return stop_button_; }
    QChart* Chart() const;
    WatchChart* TrendChart() const { return chart_; }

  signals:
    void PollEnded();

  protected:
    void hideEvent(QHideEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    class PollUserInterface;
    struct HeldInput;

    void BuildWidgets();
    void PollTick();
    void RunPoll();
    void PumpDuringPoll();
    void ReplayHeldInput();
    // Runs `action` now, or, while a poll is under way, ends the poll and
    // runs it once the poll has returned.
    void WhenIdle(std::function<void()> action);
    void OnBlockRead(const BlockRead& block);
    void OnRetrying(const BlockRead& block, int failed, int attempts);
    void EndPoll(const std::string& last_message, std::chrono::steady_clock::duration took);
    void BreakAllLines();
    void FillTable();
    void ShowRow(int row);
    void RedrawTable();
    void FitColumns();
    QString LastGoodText(int row, bool stale) const;
    bool Stale(int row) const;
    static bool Edited(int column);
    void OnItemChanged(QTableWidgetItem* item);
    void RebuildPoller();
    void RebuildChart();
    void SaveSetup();
    void SetStatus(const QString& text);
    void Report(const char* format, const QString& path, const QString& reason);
    void OnLogButton();

    PageHost& host_;
    UserInterfaceRelay& driver_ui_;
    WatchSetup setup_;
    std::unique_ptr<WatchPoller> poller_;
    std::vector<RowStatistics> statistics_;
    std::vector<std::deque<QPointF>> history_;
    // Per row: whether its last read failed, and the retry under way.
    std::vector<bool> last_failed_;
    std::vector<QString> retrying_;
    WatchLog log_;
    StopRequest stop_;
    bool in_poll_ = false;
    std::vector<HeldInput> held_input_;
    std::vector<std::function<void()>> after_poll_;
    bool ready_ = false;
    bool save_pending_ = false;
    std::chrono::steady_clock::time_point last_pump_{};
    std::chrono::steady_clock::time_point last_ages_{};
    PathChooser choose_path_;
    ValueAsker ask_value_;
    Confirmer confirm_;
    QSize preferred_size_;

    QTableWidget* table_ = nullptr;
    QDoubleSpinBox* interval_ = nullptr;
    QComboBox* span_ = nullptr;
    QPushButton* start_button_ = nullptr;
    QPushButton* stop_button_ = nullptr;
    QPushButton* log_button_ = nullptr;
    QLabel* status_ = nullptr;
    WatchChart* chart_ = nullptr;
    QTimer* timer_ = nullptr;
    QTimer* ages_ = nullptr;
};

}  // namespace fc
