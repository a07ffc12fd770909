#include "app/traffic_window.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <string>

#include "app/app_messages.h"
#include "modbus/frame_trace.h"
#include "modbus/traffic_capture.h"
#include "platform/application_title.h"
#include "ui/held_input.h"
#include "ui/window_placement.h"

namespace fc {

namespace m = app_messages;

namespace {
QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}
QString Utf8(const std::string& text) {
    return QString::fromStdString(text);
}

// A name typed without an extension gets the one of the kind saved.
QString WithExtension(const QString& path, const char* extension) {
    return QFileInfo(path).fileName().contains('.') ? path : path + extension;
}
}  // namespace

TrafficModel::TrafficModel(size_t limit, QObject* parent)
    : QAbstractTableModel(parent), limit_(limit) {}

void TrafficModel::Append(const TrafficFrame& frame) {
    if (frames_.size() >= limit_) {
        beginRemoveRows({}, 0, 0);
        frames_.pop_front();
        endRemoveRows();
    }
    const int row = static_cast<int>(frames_.size());
    beginInsertRows({}, row, row);
    frames_.push_back(frame);
    endInsertRows();
}

void TrafficModel::Clear() {
    beginResetModel();
    frames_.clear();
    endResetModel();
}

int TrafficModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(frames_.size());
}

int TrafficModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

// The texts are made when a line is shown, not when a frame comes: a
// download passes thousands of frames that nobody scrolls to.
QString TrafficModel::Text(const TrafficFrame& frame, int column) const {
    switch (column) {
        case kTime:
            return Utf8(TraceTime(frame.time));
        case kDirection:
            return Utf8(frame.direction == TrafficDirection::Sent ? m::kTrafficSent
                                                                  : m::kTrafficReceived);
        case kFrame:
            return Utf8(TraceBytes(frame.framing, frame.wire)).trimmed();
        case kMeaning:
            return Utf8(DescribeFrame(frame.framing, frame.direction, frame.wire));
        default:
            return {};
    }
}

QVariant TrafficModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(frames_.size()))
        return {};
    const TrafficFrame& frame = frames_[static_cast<size_t>(index.row())];
    // Long frames and meanings are cut to the window's width; the tip shows
    // them whole. Bytes line up in a fixed font.
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return Text(frame, index.column());
    if (role == Qt::FontRole && index.column() == kFrame)
        return QFontDatabase::systemFont(QFontDatabase::FixedFont);
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kTitles[] = {m::kTrafficTime, m::kTrafficDirection, m::kTrafficFrame,
                                          m::kTrafficMeaning};
    return section >= 0 && section < kColumnCount ? Utf8(kTitles[section]) : QVariant();
}

TrafficWindow::TrafficWindow(TrafficObservers& traffic, QWidget* parent)
    : QDialog(parent), view_(new QTableView(this)) {
    setWindowTitle(Utf8(m::kTrafficCaption));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setModal(false);

    view_->setModel(&model_);
    view_->setSelectionBehavior(QAbstractItemView::SelectRows);
    view_->setWordWrap(false);
    view_->setTextElideMode(Qt::ElideRight);
    view_->verticalHeader()->hide();
    // Rows as tall as the font, however the desktop scales: fixed heights
    // would clip the text at 2x.
    view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    view_->verticalHeader()->setDefaultSectionSize(view_->fontMetrics().height() + 6);
    QHeaderView* header = view_->horizontalHeader();
    header->setStretchLastSection(true);
    const QFontMetrics metrics = view_->fontMetrics();
    header->resizeSection(TrafficModel::kTime, metrics.horizontalAdvance("00:00:00.000") + 16);
    header->resizeSection(TrafficModel::kDirection,
                          metrics.horizontalAdvance(Utf8(m::kTrafficReceived)) + 16);
    const QFontMetrics fixed(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    header->resizeSection(TrafficModel::kFrame, fixed.horizontalAdvance(QString(36, 'F')));

    pause_ = new QPushButton(Utf8(m::kTrafficPause), this);
    pause_->setCheckable(true);
    auto* clear = new QPushButton(Utf8(m::kTrafficClear), this);
    auto* save_text = new QPushButton(Utf8(m::kTrafficSaveText), this);
    save_text->setObjectName(QStringLiteral("saveText"));
    auto* save_capture = new QPushButton(Utf8(m::kTrafficSaveCapture), this);
    auto* close = new QPushButton(Utf8(m::kTrafficClose), this);
    count_ = new QLabel(this);
    for (QPushButton* button : {pause_, clear, save_text, save_capture, close})
        button->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    for (QWidget* widget : std::initializer_list<QWidget*>{pause_, clear, save_text, save_capture})
        buttons->addWidget(widget);
    buttons->addWidget(count_, 1);
    buttons->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(view_, 1);
    layout->addLayout(buttons);

    connect(pause_, &QPushButton::toggled, this, &TrafficWindow::SetPaused);
    connect(clear, &QPushButton::clicked, this, &TrafficWindow::Clear);
    const auto ask = [this](const char* caption, const char* filter, const char* extension,
                            auto save) {
        choose_path_(Utf8(caption), Utf8(filter), [this, save, extension](const QString& path) {
            if (!path.isEmpty())
                (this->*save)(WithExtension(path, extension));
        });
    };
    connect(save_text, &QPushButton::clicked, this, [=] {
        ask(m::kTrafficSaveText, m::kTrafficTextFilter, ".txt", &TrafficWindow::SaveText);
    });
    connect(save_capture, &QPushButton::clicked, this, [=] {
        ask(m::kTrafficSaveCapture, m::kTrafficCaptureFilter, ".pcap", &TrafficWindow::SaveCapture);
    });
    connect(close, &QPushButton::clicked, this, &QDialog::hide);

    // Not run in a loop of its own: the window saves while an operation of
    // the main window runs, and a nested loop would stop that operation
    // until the name was chosen.
    choose_path_ = [this](const QString& caption, const QString& filter, PathUse use) {
        auto* dialog = new QFileDialog(this, QString(caption).remove('&'), QString(), filter);
        dialog->setAcceptMode(QFileDialog::AcceptSave);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(dialog, &QFileDialog::fileSelected, this, use);
        dialog->open();
    };
    preferred_size_ = QSize(metrics.averageCharWidth() * 170, metrics.height() * 30);
    resize(preferred_size_);
    TakeInputDuringOperations(*this);
    UpdateCount();
    watch_ = traffic.Add([this](const TrafficFrame& frame) { OnFrame(frame); });
}

TrafficWindow::~TrafficWindow() = default;

void TrafficWindow::OpenBeside(const QWidget& anchor) {
    fc::OpenBeside(*this, anchor, preferred_size_);
}

void TrafficWindow::OnFrame(const TrafficFrame& frame) {
    if (paused_) {
        ++passed_while_paused_;
    } else {
        // Follow the traffic only while the user has not scrolled away from it.
        QScrollBar* bar = view_->verticalScrollBar();
        const bool at_end = bar->value() == bar->maximum();
        model_.Append(frame);
        if (at_end)
            view_->scrollToBottom();
    }
    UpdateCount();
}

void TrafficWindow::SetPaused(bool paused) {
    paused_ = paused;
    passed_while_paused_ = 0;
    pause_->setChecked(paused);
    pause_->setText(Utf8(paused ? m::kTrafficResume : m::kTrafficPause));
    UpdateCount();
}

void TrafficWindow::Clear() {
    model_.Clear();
    UpdateCount();
}

void TrafficWindow::UpdateCount() {
    if (paused_) {
        count_->setText(Utf8(m::kTrafficPausedCount).arg(passed_while_paused_));
        return;
    }
    count_->setText(Utf8(m::kTrafficCount).arg(model_.Frames().size()).arg(kFrameLimit));
}

// The lines --trace prints, so a saved list and a trace read the same.
bool TrafficWindow::SaveText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        ReportUnwritten(path, file.errorString());
        return false;
    }
    for (const TrafficFrame& frame : model_.Frames())
        file.write((TraceLine(frame) + "\n").c_str());
    if (!file.flush() || file.error() != QFileDevice::NoError) {
        ReportUnwritten(path, file.errorString());
        return false;
    }
    return true;
}

bool TrafficWindow::SaveCapture(const QString& path) {
    const std::vector<TrafficFrame> frames(model_.Frames().begin(), model_.Frames().end());
    std::string error;
    if (!WriteCaptureFile(path.toStdString(), frames, error)) {
        ReportUnwritten(path, Utf8(error));
        return false;
    }
    return true;
}

void TrafficWindow::ReportUnwritten(const QString& path, const QString& reason) {
    QMessageBox box(QMessageBox::Warning, Utf8(ApplicationTitle()),
                    Utf8(m::kTrafficUnwritten).arg(path, reason), QMessageBox::Ok, this);
    box.exec();
}

}  // namespace fc
