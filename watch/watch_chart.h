#pragma once

#include <QPointF>
#include <QString>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

class QChart;
class QChartView;
class QDateTimeAxis;
class QLabel;
class QPushButton;
class QValueAxis;

namespace fc {

// One row as the chart draws it. A point whose y is NaN is a break: no
// reading there (a stop, a pause, a failure), so no line crosses it.
struct ChartRow {
    QString Title;
    QString Unit;  // rows of one unit share an axis; empty: an axis of its own
    const std::deque<QPointF>* Points = nullptr;
    std::function<QString(double)> Text;  // a value as the table shows it
};

// The watch's trend chart: a y axis per unit of measure (or per row without
// one), two on screen and the rest drawn 0 to 100 % of their own range with
// the range in the legend; gaps where there was no reading; a readout of
// the values under the cursor; zoom and pan, which freeze the chart, and
// "Freeze chart", which holds it while the poll goes on and, unchecked,
// follows the poll again.
class WatchChart : public QWidget {
  public:
    explicit WatchChart(QWidget* parent = nullptr);

    // Draws the rows over the `span_ms` up to `now_ms`; a frozen chart keeps
    // its picture and only remembers what to draw when it follows again.
    void Show(std::vector<ChartRow> rows, qint64 now_ms, qint64 span_ms);
    void SetFrozen(bool frozen);
    bool Frozen() const { return frozen_; }

    QChart* Chart() const { return chart_; }
    QLabel* Readout() const { return readout_; }
    QPushButton* FreezeButton() const { return freeze_; }
    // The readout for the time at `x` ms since the epoch.
    QString ReadoutAt(double x) const;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Redraw();
    void UserMovedTheView();

    QChart* chart_ = nullptr;
    QChartView* view_ = nullptr;
    static constexpr size_t kAxesOnScreen = 2;
    QDateTimeAxis* time_axis_ = nullptr;
    QValueAxis* axes_[kAxesOnScreen] = {};
    QValueAxis* percent_ = nullptr;
    QLabel* readout_ = nullptr;
    QPushButton* freeze_ = nullptr;
    std::vector<ChartRow> rows_;
    qint64 now_ms_ = 0;
    qint64 span_ms_ = 0;
    bool frozen_ = false;
    bool drawing_ = false;
};

}  // namespace fc
