#include "app/main_dialog.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QTabWidget>

#include "app/about_dialog.h"
#include "app/app_messages.h"
#include "app/traffic_window.h"
#include "modbus/modbus_master.h"
#include "platform/application_title.h"
#include "ui/application_icon.h"
#include "ui/held_input.h"
#include "ui/main_dialog_template.h"
#include "watch/watch_messages.h"
#include "watch/watch_window.h"

namespace fc {

namespace m = app_messages;

MainDialog::MainDialog(ModbusMaster& master, Profile& profile, QWidget* parent)
    : QDialog(parent),
      master_(master),
      settings_(master.Settings()),
      link_(master.Links()),
      profile_(profile),
      ui_(this, [this](int id) { return Control(id); }),
      exchange_(ui_) {
    driver_ui_.SetTarget(&ui_);
    ui_.SetBeforeBox([this] { CloseRefusalBox(); });
    // A caption bar with the system commands and a minimise box, no maximise
    // box; the size is fixed below.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QString::fromUtf8(m::kMainCaption));
    const DialogUnits units = DialogUnits::ForDialogFont();
    setFont(DialogUnits::DialogFont());
    setFixedSize(units.ToPixels(kMainDialogWidth, kMainDialogHeight));

    controls_ = BuildControls(this, MainDialogControls(), units);
    GroupRadioButtons(this, controls_, MainDialogRadioGroups());
    tabs_ = ControlAs<QTabWidget>(ids::kTabControl);
    BindFields();
    stop_ = new StopButton(*ControlAs<QPushButton>(ids::kStopOperation));
    ConnectButtons();
    AttachPageControllers(*this);
    traffic_ = new TrafficWindow(master_.OnTraffic, this);
    watch_ = new WatchWindow(*this, driver_ui_, this);
    // The window and its controls come into being together here, so the
    // initialisation runs at once rather than when the window is first shown.
    OnInitDialog();
}

MainDialog::~MainDialog() = default;

QWidget* MainDialog::Control(int id) const {
    return FindControl(controls_, id);
}

void MainDialog::BindFields() {
    const auto edit = [this](int id) { return ControlAs<QLineEdit>(id); };
    const auto radios = [this](std::initializer_list<int> group) {
        std::vector<QAbstractButton*> buttons;
        for (const int id : group)
            buttons.push_back(ControlAs<QRadioButton>(id));
        return buttons;
    };
    exchange_.Integer(edit(ids::kAddress), &fields_.Address);
    exchange_.RadioIndex(radios({ids::kRadio4Byte, ids::kRadio2Byte}), &fields_.RegisterSize);
    exchange_.RadioIndex(radios({ids::kRadioHiLo, ids::kRadioLoHi}), &fields_.ByteOrder);
    exchange_.IntegerInRange(edit(ids::kUpdateEvery), &fields_.UpdatePeriod, kUpdatePeriodMin,
                             kUpdatePeriodMax);
    exchange_.Integer(edit(ids::kClockRegister), &fields_.ClockRegister);
    exchange_.RadioIndex(radios({ids::kRadioHour, ids::kRadioMinute, ids::kRadioDay}),
                         &fields_.IncreaseBy);
    exchange_.Integer(edit(ids::kDateRegister), &fields_.DateRegister);
    exchange_.Integer(edit(ids::kLoopInterval), &fields_.LoopInterval);
    exchange_.Float(edit(ids::kDataIncrement), &fields_.DataIncrement);
    exchange_.Double(edit(ids::kHiLimit), &fields_.HiLimit);
    exchange_.Double(edit(ids::kLowLimit), &fields_.LowLimit);
}

void MainDialog::ConnectButtons() {
    for (const auto& [id, widget] : controls_)
        if (auto* button = qobject_cast<QPushButton*>(widget); button && id != ids::kStopOperation)
            connect(button, &QPushButton::clicked, this, [this, id = id] { OnCommand(id); });
    SetCommandHandler(ids::kStartOver, [this] { OnStartOver(); });
    connect(tabs_, &QTabWidget::currentChanged, this, [this] { OnTabSelChange(); });
    // No system menu to extend on most Linux desktops: the About entry lives
    // in the window's context menu and on F1 instead.
    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &MainDialog::OnAbout);
    auto* traffic = new QShortcut(QKeySequence(kTrafficKey), this);
    connect(traffic, &QShortcut::activated, this, &MainDialog::OnTraffic);
    auto* watch = new QShortcut(QKeySequence(kWatchKey), this);
    connect(watch, &QShortcut::activated, this, &MainDialog::OnWatch);
    ConnectTabKeys();
}

// The pages' controls are the window's own, outside the tab control, so its
// Ctrl+Tab would work only from the tab bar: the window takes the page keys
// from any field.
void MainDialog::ConnectTabKeys() {
    const std::pair<QKeySequence, int> kPageKeys[] = {
        {QKeySequence(QKeySequence::NextChild), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(QKeySequence::PreviousChild), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
    };
    for (const auto& [keys, step] : kPageKeys) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this, step = step] {
            const int count = tabs_->count();
            tabs_->setCurrentIndex((tabs_->currentIndex() + step + count) % count);
        });
    }
}

void MainDialog::OnInitDialog() {
    LoadFields();
    setWindowIcon(ApplicationIcon());
    SetEnabled(ids::kClockStop, false);
    ControlAs<QRadioButton>(ids::kRadioAuto)->setChecked(true);
    ControlAs<QLineEdit>(ids::kRegisterCount)->setText(QStringLiteral("1"));
    // The tab control's pages stay empty: the controls are the dialog's own
    // and the page switch shows and hides them.
    const QSignalBlocker quiet(tabs_);
    for (const char* name : {m::kTabFileDownloader, m::kTabModbusDriver, m::kTabAdvanced})
        tabs_->addTab(new QWidget(tabs_), QString::fromUtf8(name));
    ControlAs<QLabel>(ids::kStatusLine)->clear();
    tabs_->setCurrentIndex(0);
    ShowPage();
    OnStartOver();
}

bool MainDialog::SaveFields() {
    return exchange_.Save();
}

void MainDialog::LoadFields() {
    exchange_.Load();
}

void MainDialog::SetCommandHandler(int id, std::function<void()> handler) {
    command_handlers_[id] = std::move(handler);
}

void MainDialog::AdoptController(std::unique_ptr<PageController> controller) {
    controllers_.push_back(std::move(controller));
}

// A new operation starts with an empty status line: the last one's "Download
// failed..." is no word on this one.
void MainDialog::OnCommand(int id) {
    const auto found = command_handlers_.find(id);
    if (found == command_handlers_.end() || !found->second)
        return;
    ui_.SetStatusText("");
    RunOperation(found->second);
}

void MainDialog::RunOperation(const std::function<void()>& operation) {
    {
        struct Depth {
            int& depth;
            explicit Depth(int& d) : depth(++d) {}
            ~Depth() { --depth; }
        } scope(operation_depth_);
        operation();
    }
    if (!OperationRunning()) {
        CloseRefusalBox();
        held_close_.Release();
    }
}

void MainDialog::ShowPage() {
    const auto selected = static_cast<Page>(tabs_->currentIndex());
    for (const Page page : kPageWalkOrder)
        for (const ControlSpec& row : MainDialogControls())
            if (row.page == page)
                Control(row.id)->setVisible(page == selected);
}

void MainDialog::OnTabSelChange() {
    ShowPage();
}

void MainDialog::SetEnabled(int id, bool enabled) {
    Control(id)->setEnabled(enabled);
}

void MainDialog::OnStartOver() {
    SetEnabled(ids::kTestCommunication, true);
    SetEnabled(ids::kCommSettings, true);
    SetEnabled(ids::kBrowse, false);
    SetEnabled(ids::kFileBox, false);
    SetEnabled(ids::kStartDownload, false);
    Control(ids::kProgressBar)->hide();
}

void MainDialog::OnAbout() {
    AboutDialog about(this);
    about.exec();
}

void MainDialog::OnTraffic() {
    traffic_->OpenBeside(*this);
}

void MainDialog::OnWatch() {
    watch_->OpenBeside(*this);
}

void MainDialog::OnOK() {
    if (SaveFields())
        accept();
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    // A focused push button takes Enter itself (it is clicked); anywhere else
    // Enter means OK.
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        OnOK();
        return;
    }
    QDialog::keyPressEvent(event);
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (OperationRunning() && !close_refusal_.empty()) {
        event->ignore();
        ShowCloseRefusal();
        return;
    }
    if (!held_close_.Hold(*event, OperationRunning()))
        QDialog::closeEvent(event);
}

void MainDialog::RefuseCloseWith(std::string reason) {
    close_refusal_ = std::move(reason);
    if (close_refusal_.empty())
        CloseRefusalBox();
}

// Modeless, since a modal box would stop the operation until it is answered,
// but it takes its OK and Enter during the operation's waits as any box
// does. Its word holds only while the operation runs: it goes when the
// operation ends, or when a box of the operation itself takes its place.
void MainDialog::ShowCloseRefusal() {
    if (refusal_box_) {
        refusal_box_->raise();
        return;
    }
    refusal_box_ = new QMessageBox(QMessageBox::Warning, QString::fromStdString(ApplicationTitle()),
                                   QString::fromStdString(close_refusal_), QMessageBox::Ok, this);
    refusal_box_->setTextFormat(Qt::PlainText);
    refusal_box_->setModal(false);
    refusal_box_->setAttribute(Qt::WA_DeleteOnClose);
    TakeInputDuringOperations(*refusal_box_);
    refusal_box_->show();
}

// The keys go back to where the focus was in the window.
void MainDialog::CloseRefusalBox() {
    if (!refusal_box_)
        return;
    refusal_box_->close();
    activateWindow();
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromUtf8(m::kAboutMenuEntry), this, &MainDialog::OnAbout);
    menu.addAction(QString::fromUtf8(m::kTrafficMenuEntry), QKeySequence(kTrafficKey), this,
                   &MainDialog::OnTraffic);
    menu.addAction(QString::fromUtf8(watch_messages::kMenuEntry), QKeySequence(kWatchKey), this,
                   &MainDialog::OnWatch);
    menu.exec(event->globalPos());
}

}  // namespace fc
