#pragma once

#include <QAbstractTableModel>
#include <QDialog>
#include <deque>
#include <functional>

#include "modbus/traffic_frame.h"

class QLabel;
class QPushButton;
class QTableView;

namespace fc {

// The frames the traffic window lists, oldest first; at most `limit`, the
// oldest making way, so a clock left running for days does not grow it.
class TrafficModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    enum Column { kTime, kDirection, kFrame, kMeaning, kColumnCount };

    explicit TrafficModel(size_t limit, QObject* parent = nullptr);

    void Append(const TrafficFrame& frame);
    void Clear();
    const std::deque<TrafficFrame>& Frames() const { return frames_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  private:
    QString Text(const TrafficFrame& frame, int column) const;

    size_t limit_;
    std::deque<TrafficFrame> frames_;
};

// The traffic window: every frame the driver sends and takes, one line each
// with its time, direction, bytes and meaning, as --trace prints them. It
// watches from the moment the main window is built, so opening it after a
// failure shows what led to it. Not modal: the main window stays usable.
class TrafficWindow : public QDialog {
    Q_OBJECT

  public:
    static constexpr size_t kFrameLimit = 10000;

    // Asks where to save and hands the answer to `use`, perhaps later; an
    // empty answer cancels.
    using PathUse = std::function<void(const QString& path)>;
    using PathChooser =
        std::function<void(const QString& caption, const QString& filter, PathUse use)>;

    TrafficWindow(TrafficObservers& traffic, QWidget* parent = nullptr);
    ~TrafficWindow() override;

    void SetPathChooser(PathChooser chooser) { choose_path_ = std::move(chooser); }
    // Shows the window, beside `anchor` when it opens, and brings it to the
    // front.
    void OpenBeside(const QWidget& anchor);

    // The buttons' work, each false (after saying so) when a file fails.
    void SetPaused(bool paused);
    void Clear();
    bool SaveText(const QString& path);
    bool SaveCapture(const QString& path);

    const TrafficModel& Model() const { return model_; }
    QTableView* View() const { return view_; }
    QPushButton* PauseButton() const { return pause_; }

  private:
    void OnFrame(const TrafficFrame& frame);
    void UpdateCount();
    void ReportUnwritten(const QString& path, const QString& reason);

    TrafficModel model_{kFrameLimit};
    QTableView* view_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLabel* count_ = nullptr;
    bool paused_ = false;
    size_t passed_while_paused_ = 0;
    PathChooser choose_path_;
    QSize preferred_size_;
    TrafficObservers::Watch watch_;
};

}  // namespace fc
