#include "watch/watch_chart.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QValueAxis>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>
#include <limits>

#include "watch/watch_messages.h"

namespace fc {

namespace m = watch_messages;

namespace {

// Far enough apart to tell on a projector; the rows of one chart rarely
// pass six.
const QColor kColours[] = {QColor(0x1f, 0x77, 0xb4), QColor(0xd6, 0x27, 0x28),
                           QColor(0x2c, 0xa0, 0x2c), QColor(0x94, 0x67, 0xbd),
                           QColor(0xff, 0x7f, 0x0e), QColor(0x8c, 0x56, 0x4b)};

struct Range {
    double low = std::numeric_limits<double>::infinity();
    double high = -std::numeric_limits<double>::infinity();
    bool Any() const { return low <= high; }
    void Add(double y) {
        low = std::min(low, y);
        high = std::max(high, y);
    }
};

// The runs of readings from `first` on, split where a break lies between.
std::vector<QList<QPointF>> Runs(const std::deque<QPointF>& points, double first) {
    std::vector<QList<QPointF>> runs(1);
    for (const QPointF& point : points) {
        if (std::isnan(point.y())) {
            if (!runs.back().isEmpty())
                runs.emplace_back();
        } else if (point.x() >= first) {
            runs.back() << point;
        }
    }
    if (runs.back().isEmpty())
        runs.pop_back();
    return runs;
}

// Tick labels in fixed notation with the decimals their step needs: a total
// of 1,284,467 reads "1284470", never "1.28447e+06" or "87374520.8".
QString LabelFormat(const QValueAxis& axis) {
    const double step = (axis.max() - axis.min()) / std::max(axis.tickCount() - 1, 1);
    const int decimals = step > 0 ? std::clamp(static_cast<int>(std::ceil(-std::log10(step))), 0, 6)
                                  : 0;
    return QStringLiteral("%.%1f").arg(decimals);
}

void FitAxis(QValueAxis& axis, const QString& title, const Range& range) {
    axis.setTitleText(title);
    const double low = range.Any() ? range.low : 0;
    const double high = range.Any() ? range.high : 1;
    const double margin = std::max((high - low) * 0.05, std::abs(high) * 0.01 + 1e-3);
    axis.setTickCount(5);
    axis.setRange(low - margin, high + margin);
    axis.applyNiceNumbers();
    axis.setLabelFormat(LabelFormat(axis));
    axis.setVisible(true);
}

// Rows of one unit of measure share an axis; a row without one has its own.
std::vector<std::vector<size_t>> AxisGroups(const std::vector<ChartRow>& rows) {
    std::vector<QString> keys;
    std::vector<std::vector<size_t>> groups;
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString key = rows[i].Unit.isEmpty() ? QStringLiteral("\n%1").arg(i) : rows[i].Unit;
        const auto found = std::find(keys.begin(), keys.end(), key);
        if (found == keys.end()) {
            keys.push_back(key);
            groups.push_back({i});
        } else {
            groups[static_cast<size_t>(found - keys.begin())].push_back(i);
        }
    }
    return groups;
}

}  // namespace

WatchChart::WatchChart(QWidget* parent) : QWidget(parent) {
    chart_ = new QChart;
    chart_->setMargins(QMargins(4, 4, 4, 4));
    chart_->legend()->setAlignment(Qt::AlignBottom);
    time_axis_ = new QDateTimeAxis(chart_);
    time_axis_->setTickCount(5);
    chart_->addAxis(time_axis_, Qt::AlignBottom);
    // Kept from one drawing to the next, so the layout knows their labels'
    // room; an axis made afresh each poll is drawn with "..." for labels.
    for (size_t i = 0; i < kAxesOnScreen; ++i) {
        axes_[i] = new QValueAxis(chart_);
        axes_[i]->setVisible(false);
        chart_->addAxis(axes_[i], i == 0 ? Qt::AlignLeft : Qt::AlignRight);
    }
    percent_ = new QValueAxis(chart_);
    percent_->setRange(-5, 105);
    percent_->setVisible(false);
    chart_->addAxis(percent_, Qt::AlignRight);
    chart_->setTitle(QString::fromUtf8(m::kChartHint));
    view_ = new QChartView(chart_, this);
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setRubberBand(QChartView::RectangleRubberBand);
    view_->setMinimumHeight(fontMetrics().height() * 8);
    view_->setFocusPolicy(Qt::StrongFocus);
    view_->setMouseTracking(true);
    view_->viewport()->setMouseTracking(true);
    view_->viewport()->installEventFilter(this);
    view_->installEventFilter(this);
    readout_ = new QLabel(this);
    readout_->setTextFormat(Qt::PlainText);
    freeze_ = new QPushButton(QString::fromUtf8(m::kFreeze), this);
    freeze_->setCheckable(true);
    freeze_->setAutoDefault(false);
    freeze_->setToolTip(QString::fromUtf8(m::kFreezeTip));
    connect(freeze_, &QPushButton::toggled, this, [this](bool frozen) { SetFrozen(frozen); });
    connect(time_axis_, &QDateTimeAxis::rangeChanged, this, [this] { UserMovedTheView(); });

    auto* below = new QHBoxLayout;
    below->addWidget(readout_, 1);
    below->addWidget(freeze_);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view_, 1);
    layout->addLayout(below);
}

void WatchChart::Show(std::vector<ChartRow> rows, qint64 now_ms, qint64 span_ms) {
    rows_ = std::move(rows);
    now_ms_ = now_ms;
    span_ms_ = span_ms;
    if (!frozen_)
        Redraw();
}

void WatchChart::SetFrozen(bool frozen) {
    frozen_ = frozen;
    const QSignalBlocker quiet(freeze_);
    freeze_->setChecked(frozen);
    if (!frozen)
        Redraw();
}

// A zoom or a pan is the user looking at a moment: the poll must not pull
// the view away from it.
void WatchChart::UserMovedTheView() {
    if (!drawing_ && !frozen_)
        SetFrozen(true);
}

void WatchChart::Redraw() {
    drawing_ = true;
    chart_->removeAllSeries();
    const double first = static_cast<double>(now_ms_ - span_ms_);
    time_axis_->setRange(QDateTime::fromMSecsSinceEpoch(now_ms_ - span_ms_),
                         QDateTime::fromMSecsSinceEpoch(now_ms_));
    time_axis_->setFormat(span_ms_ > 3600 * 1000 ? QStringLiteral("HH:mm")
                                                 : QStringLiteral("HH:mm:ss"));
    chart_->setTitle(rows_.empty() ? QString::fromUtf8(m::kChartHint) : QString());
    const std::vector<std::vector<size_t>> groups = AxisGroups(rows_);
    for (size_t group = 0; group < groups.size(); ++group) {
        Range range;
        for (const size_t row : groups[group])
            for (const QList<QPointF>& run : Runs(*rows_[row].Points, first))
                for (const QPointF& point : run)
                    range.Add(point.y());
        const bool own_axis = group < kAxesOnScreen;
        const ChartRow& lead = rows_[groups[group].front()];
        QValueAxis* axis = own_axis ? axes_[group] : percent_;
        if (own_axis)
            FitAxis(*axis, lead.Unit.isEmpty() ? lead.Title : lead.Unit, range);
        const double width = range.Any() && range.high > range.low ? range.high - range.low : 0;
        for (const size_t row : groups[group]) {
            const ChartRow& shown = rows_[row];
            const QString name =
                own_axis || !range.Any()
                    ? shown.Title
                    : QString::fromUtf8(m::kNormalised)
                          .arg(shown.Title, shown.Text(range.low), shown.Text(range.high));
            std::vector<QList<QPointF>> runs = Runs(*shown.Points, first);
            if (runs.empty())
                runs.emplace_back();  // the legend names the row all the same
            for (size_t r = 0; r < runs.size(); ++r) {
                if (!own_axis)
                    for (QPointF& point : runs[r])
                        point.setY(width > 0 ? (point.y() - range.low) / width * 100 : 50);
                auto* series = new QLineSeries;
                series->setName(name);
                series->setColor(kColours[row % std::size(kColours)]);
                series->setPointsVisible(runs[r].size() == 1);
                series->replace(runs[r]);
                chart_->addSeries(series);
                series->attachAxis(time_axis_);
                series->attachAxis(axis);
                if (r > 0)
                    for (QLegendMarker* marker : chart_->legend()->markers(series))
                        marker->setVisible(false);
            }
        }
    }
    // Hidden only when unused: an axis hidden and shown again in one drawing
    // keeps the room of a hidden one and cuts its labels to "...".
    for (size_t i = groups.size(); i < kAxesOnScreen; ++i)
        axes_[i]->setVisible(false);
    drawing_ = false;
}

// The value each row held at that time: its last reading at or before it,
// none after a break.
QString WatchChart::ReadoutAt(double x) const {
    QString text = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(x))
                       .toString(QStringLiteral("HH:mm:ss"));
    for (const ChartRow& row : rows_) {
        const auto after = std::upper_bound(row.Points->begin(), row.Points->end(), x,
                                            [](double at, const QPointF& p) { return at < p.x(); });
        const bool held = after != row.Points->begin() && !std::isnan(std::prev(after)->y());
        text += QStringLiteral("   %1: %2").arg(row.Title,
                                                held ? row.Text(std::prev(after)->y()) : "-");
    }
    return text;
}

bool WatchChart::eventFilter(QObject* watched, QEvent* event) {
    const QList<QAbstractSeries*> series = chart_->series();
    if (event->type() == QEvent::MouseMove && !series.isEmpty()) {
        const QPointF at = static_cast<QMouseEvent*>(event)->position();
        readout_->setText(ReadoutAt(chart_->mapToValue(at, series.front()).x()));
    }
    const double step = chart_->plotArea().width() / 10;
    if (event->type() == QEvent::Wheel) {
        const auto* wheel = static_cast<QWheelEvent*>(event);
        const int turn = wheel->angleDelta().y() != 0 ? wheel->angleDelta().y()
                                                      : wheel->angleDelta().x();
        if ((wheel->modifiers() & Qt::ShiftModifier) || wheel->angleDelta().y() == 0)
            chart_->scroll(turn > 0 ? -step : step, 0);
        else
            chart_->zoom(turn > 0 ? 1.25 : 0.8);
        return true;
    }
    if (event->type() == QEvent::KeyPress && watched == view_) {
        switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Left:
                chart_->scroll(-step, 0);
                return true;
            case Qt::Key_Right:
                chart_->scroll(step, 0);
                return true;
            case Qt::Key_Plus:
                chart_->zoom(1.25);
                return true;
            case Qt::Key_Minus:
                chart_->zoom(0.8);
                return true;
            case Qt::Key_Home:
                SetFrozen(false);
                return true;
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace fc
