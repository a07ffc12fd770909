#include "connection/comm_settings_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QUrl>
#include <algorithm>
#include <cstdio>

#include "connection/auto_detect.h"
#include "connection/messages.h"
#include "connection/port_report.h"
#include "connection/serial_devices.h"
#include "modbus/comm_settings.h"
#include "modbus/modbus_master.h"
#include "platform/field_text.h"
#include "platform/profile.h"
#include "platform/user_interface.h"
#include "ui/dialog_units.h"
#include "ui/main_dialog_template.h"

namespace fc {

namespace {

using K = ControlKind;
namespace id = comm_ids;

constexpr int kDialogWidth = 262;
constexpr int kDialogHeight = 276;
constexpr const char* kCaption = "Comm Settings";
constexpr const char* kNoDevice = "(no device)";

// The keyboard goes in reading order: the serial area, the IP area, the
// three always-enabled fields, then the buttons' column, then the report.
// clang-format off
constexpr ControlSpec kControls[] = {
    {id::kSerialGroup, K::GroupBox, nullptr, 7, 7, 168, 92},
    {1100, K::Label, "&Port", 14, 18, 36, 8},
    {id::kPort, K::Edit, nullptr, 52, 16, 36, 12, kAlignRight},
    {1105, K::Label, "T&ype", 96, 18, 28, 8},
    {id::kType, K::ComboBox, nullptr, 126, 16, 42, 12},
    {1106, K::Label, "De&vice", 14, 33, 36, 8},
    {id::kPortDevice, K::ComboBox, nullptr, 52, 31, 116, 12, kElideMiddle},
    {1101, K::Label, "&Baud", 14, 48, 36, 8},
    {id::kBaud, K::ComboBox, nullptr, 52, 46, 40, 12},
    {1102, K::Label, "Pa&rity", 96, 48, 28, 8},
    {id::kParity, K::ComboBox, nullptr, 126, 46, 42, 12},
    {1103, K::Label, "&Data Bits", 14, 63, 36, 8},
    {id::kDataBits, K::ComboBox, nullptr, 52, 61, 40, 12},
    {1104, K::Label, "S&top Bits", 96, 63, 30, 8},
    {id::kStopBits, K::ComboBox, nullptr, 126, 61, 42, 12},
    {id::kRemoveEcho, K::CheckBox, "Remove ec&ho", 14, 80, 58, 10},
    {id::kAutoDetect, K::PushButton, "&Auto Detect Settings", 78, 78, 90, 14},
    {id::kIPGroup, K::GroupBox, nullptr, 7, 106, 168, 64},
    {id::kUseIP, K::CheckBox, "Use I&nternet Protocol", 13, 102, 92, 10},
    {1107, K::Label, "&IP Address", 14, 120, 44, 8},
    {id::kIPAddress, K::Edit, nullptr, 60, 118, 108, 12},
    {1108, K::Label, "P&ort", 14, 135, 44, 8},
    {id::kIPPort, K::Edit, nullptr, 60, 133, 40, 12},
    {1109, K::Label, "Protoco&l", 14, 150, 44, 8},
    {id::kProtocol, K::ComboBox, nullptr, 60, 148, 108, 12},
    {1110, K::Label, "&Unit ID", 14, 180, 72, 8},
    {id::kUnitId, K::Edit, nullptr, 90, 178, 40, 12, kAlignRight},
    {1111, K::Label, "Ti&me Out (Seconds)", 14, 195, 72, 8},
    {id::kTimeout, K::Edit, nullptr, 90, 193, 40, 12, kAlignRight},
    {1112, K::Label, "R&etry Attemps", 14, 210, 72, 8},
    {id::kRetry, K::Edit, nullptr, 90, 208, 40, 12, kAlignRight},
    {id::kOk, K::PushButton, "O&K", 186, 7, 68, 14, kDefaultButton},
    {id::kCancel, K::PushButton, "&Cancel", 186, 25, 68, 14},
    {id::kStopScan, K::PushButton, "&Stop", 186, 43, 68, 14},
    {ids::kStatusLine, K::Label, nullptr, 186, 60, 68, 40},
    {id::kAdvancedGroup, K::GroupBox, "Advanced Options", 7, 226, 248, 44},
    {1113, K::Label, "Create Port settings report including Flow Control and Timing configuration.",
     14, 238, 134, 26},
    {id::kPortReport, K::PushButton, "&Generate Full Port Report", 154, 240, 94, 14},
};
// clang-format on

constexpr const char* kBaudItems[] = {"1200",  "2400",  "4800",  "9600",
                                      "19200", "38400", "57600", "115200"};
constexpr const char* kParityItems[] = {"NONE", "ODD", "EVEN"};
constexpr const char* kDataBitsItems[] = {"5", "6", "7", "8"};
constexpr const char* kStopBitsItems[] = {"1", "1.5", "2"};
constexpr const char* kTypeItems[] = {"RTU", "ASCII"};
constexpr const char* kProtocolItems[] = {"1 - ModbusTCP", "2 - TCP/IP Encapsulation"};

// Enabled while "Use Internet Protocol" is ticked; the serial ones the reverse.
constexpr int kIPControls[] = {id::kIPAddress, id::kIPPort, id::kProtocol};
constexpr int kSerialControls[] = {id::kPort,     id::kPortDevice, id::kBaud, id::kParity,
                                   id::kDataBits, id::kStopBits,   id::kType, id::kRemoveEcho,
                                   id::kAutoDetect};
constexpr int kDigitsOnly[] = {id::kPort, id::kUnitId, id::kTimeout, id::kRetry};

template <size_t N>
void Fill(QComboBox* list, const char* const (&items)[N]) {
    for (const char* item : items)
        list->addItem(QString::fromUtf8(item));
}

bool OpenWithDesktop(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
}

}  // namespace

CommSettingsFields FieldsFromSettings(const CommSettings& s) {
    CommSettingsFields f;
    f.BaudPosition = s.BaudRate;
    f.DataBitsPosition = s.DataBits - 5;
    f.ParityPosition = s.Parity;
    f.Port = s.ComPort;
    f.StopBitsPosition = s.StopBits;
    f.TypePosition = s.ModbusType;
    f.Unit = s.UnitId;
    f.Timeout = s.Timeout;
    f.Retry = s.Retry;
    f.UseIP = s.UseIP;
    f.IPPort = s.IPPort;
    f.ProtocolPosition = s.IPProtocol;
    f.IPAddress = s.IPAddress;
    f.RemoveEcho = s.RemoveEcho;
    return f;
}

void CopyFieldsToSettings(const CommSettingsFields& f, CommSettings& s) {
    s.BaudRate = f.BaudPosition;
    s.DataBits = static_cast<int16_t>(f.DataBitsPosition + 5);
    s.Parity = f.ParityPosition;
    s.ComPort = static_cast<int16_t>(f.Port);
    s.StopBits = f.StopBitsPosition;
    s.ModbusType = f.TypePosition;
    s.UnitId = static_cast<int16_t>(f.Unit);
    s.Timeout = static_cast<int16_t>(f.Timeout);
    s.Retry = static_cast<int16_t>(f.Retry);
    s.UseIP = f.UseIP;
    s.IPPort = static_cast<uint16_t>(f.IPPort);
    s.IPProtocol = static_cast<int16_t>(f.ProtocolPosition);
    s.RemoveEcho = f.RemoveEcho;
    s.IPAddress = f.IPAddress;
}

CommSettingsDialog::CommSettingsDialog(ModbusMaster& master, Profile& profile,
                                       const CommSettingsFields& fields, QWidget* parent)
    : QDialog(parent), master_(master), profile_(profile), fields_(fields), exchange_(master.Ui()) {
    setWindowTitle(QString::fromUtf8(kCaption));
    const DialogUnits units = DialogUnits::ForDialogFont();
    setFont(DialogUnits::DialogFont());
    setFixedSize(units.ToPixels(kDialogWidth, kDialogHeight));
    controls_ = BuildControls(this, kControls, units);
    ControlAs<QLabel>(1113)->setWordWrap(true);
    // Auto-detect tells here which combination it is trying.
    ControlAs<QLabel>(ids::kStatusLine)->setWordWrap(true);
    const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (const int digits_only : kDigitsOnly)
        ControlAs<QLineEdit>(digits_only)
            ->setValidator(new QRegularExpressionValidator(digits, this));
    FillLists();
    BindFields();
    ConnectButtons();
    stop_ = new StopButton(*ControlAs<QPushButton>(id::kStopScan));
    ChooseReportPath = [this] { return AskReportPath(); };
    OpenReport = [this](const std::string& path) {
        OpenReportOrSayWhere(master_.Ui(), path, ReportOpeners{OpenWithDesktop, StartDetached});
    };
}

CommSettingsDialog::~CommSettingsDialog() = default;

QWidget* CommSettingsDialog::Control(int control_id) const {
    return FindControl(controls_, control_id);
}

void CommSettingsDialog::FillLists() {
    Fill(ControlAs<QComboBox>(id::kBaud), kBaudItems);
    Fill(ControlAs<QComboBox>(id::kParity), kParityItems);
    Fill(ControlAs<QComboBox>(id::kDataBits), kDataBitsItems);
    Fill(ControlAs<QComboBox>(id::kStopBits), kStopBitsItems);
    Fill(ControlAs<QComboBox>(id::kType), kTypeItems);
    Fill(ControlAs<QComboBox>(id::kProtocol), kProtocolItems);
}

// The order decides which invalid field is reported first.
void CommSettingsDialog::BindFields() {
    auto list = [this](int control_id) { return ControlAs<QComboBox>(control_id); };
    auto edit = [this](int control_id) { return ControlAs<QLineEdit>(control_id); };
    exchange_.ListPosition(list(id::kBaud), &fields_.BaudPosition);
    exchange_.ListPosition(list(id::kDataBits), &fields_.DataBitsPosition);
    exchange_.ListPosition(list(id::kParity), &fields_.ParityPosition);
    exchange_.Integer(edit(id::kPort), &fields_.Port);
    exchange_.ListPosition(list(id::kStopBits), &fields_.StopBitsPosition);
    exchange_.ListPosition(list(id::kType), &fields_.TypePosition);
    exchange_.Integer(edit(id::kUnitId), &fields_.Unit);
    exchange_.IntegerInRange(edit(id::kTimeout), &fields_.Timeout, 0, kTimeoutMax);
    exchange_.IntegerInRange(edit(id::kRetry), &fields_.Retry, 0, kRetryMax);
    exchange_.Check(ControlAs<QCheckBox>(id::kRemoveEcho), &fields_.RemoveEcho);
    exchange_.Check(ControlAs<QCheckBox>(id::kUseIP), &fields_.UseIP);
    exchange_.IntegerInRange(edit(id::kIPPort), &fields_.IPPort, 0, kIPPortMax);
    exchange_.ListPosition(list(id::kProtocol), &fields_.ProtocolPosition);
    exchange_.Text(edit(id::kIPAddress), &fields_.IPAddress);
}

void CommSettingsDialog::ConnectButtons() {
    auto on_click = [this](int control_id, void (CommSettingsDialog::*handler)()) {
        connect(ControlAs<QAbstractButton>(control_id), &QAbstractButton::clicked, this,
                [this, handler] { (this->*handler)(); });
    };
    on_click(id::kOk, &CommSettingsDialog::OnOK);
    on_click(id::kCancel, &CommSettingsDialog::reject);
    on_click(id::kUseIP, &CommSettingsDialog::OnUseIP);
    on_click(id::kAutoDetect, &CommSettingsDialog::OnAutoDetect);
    on_click(id::kPortReport, &CommSettingsDialog::OnGenerateReport);
    connect(ControlAs<QLineEdit>(id::kPort), &QLineEdit::textChanged, this,
            [this] { ShowPortDevice(); });
    connect(ControlAs<QComboBox>(id::kPortDevice), &QComboBox::activated, this,
            [this](int index) { OnDeviceChosen(index); });
}

void CommSettingsDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
}

// Reading the controls back at once is what makes a stored value out of
// range prompt as the dialog opens, and sets the enabled state to UseIP.
void CommSettingsDialog::OnInitDialog() {
    exchange_.Load();
    ShowPortDevice();
    OnUseIP();
}

void CommSettingsDialog::OnUseIP() {
    exchange_.Save();
    const bool use_ip = ControlAs<QCheckBox>(id::kUseIP)->isChecked();
    for (const int control_id : kIPControls)
        Control(control_id)->setEnabled(use_ip);
    for (const int control_id : kSerialControls)
        Control(control_id)->setEnabled(!use_ip);
    master_.Settings().UseIP = use_ip;
}

void CommSettingsDialog::closeEvent(QCloseEvent* event) {
    if (!held_close_.Hold(*event, scanning_))
        QDialog::closeEvent(event);
}

void CommSettingsDialog::OnAutoDetect() {
    scanning_ = true;
    {
        const StopButton::Armed stop(*stop_);
        const ModbusMaster::StopScope stoppable(master_, stop.Request());
        RunAutoDetect(stop);
    }
    scanning_ = false;
    held_close_.Release();
}

// A stopped scan has found nothing and changed nothing; the user who
// stopped it needs no box to say so, only the line that the settings stand.
void CommSettingsDialog::RunAutoDetect(const StopButton::Armed& stop) {
    exchange_.Save();  // a prompt may appear; the scan runs all the same
    CommSettings& settings = master_.Settings();
    settings.ComPort = static_cast<int16_t>(fields_.Port);
    // The scan hears the adapter the way the dialog says it hears itself.
    settings.RemoveEcho = fields_.RemoveEcho;
    UserInterface& ui = master_.Ui();
    if (!AutoDetect(master_)) {
        if (stop.Stopped()) {
            ui.SetStatusText(connection_messages::kScanStopped);
            return;
        }
        ui.ShowMessage({connection_messages::kUnableToFindDevice,
                        connection_messages::kFailedCaption, MessageButtons::Ok,
                        MessageIcon::None});
        return;
    }
    const CommSettingsFields found = FieldsFromSettings(settings);
    fields_.BaudPosition = found.BaudPosition;
    fields_.DataBitsPosition = found.DataBitsPosition;
    fields_.Port = found.Port;
    fields_.StopBitsPosition = found.StopBitsPosition;
    fields_.TypePosition = found.TypePosition;
    fields_.ParityPosition = found.ParityPosition;
    fields_.Unit = found.Unit;
    fields_.Timeout = found.Timeout;
    fields_.Retry = found.Retry;
    exchange_.Load();
    ui.ShowMessage({DeviceFoundText(settings), connection_messages::kDeviceFoundCaption,
                    MessageButtons::Ok, MessageIcon::Information});
    // The next step is to keep what was found.
    Control(id::kOk)->setFocus();
}

int CommSettingsDialog::PortFieldNumber() const {
    return ParseIntegerField(ControlAs<QLineEdit>(id::kPort)->text().toStdString()).value_or(0);
}

void CommSettingsDialog::OnGenerateReport() {
    GenerateFullPortReport(master_, PortFieldNumber(), {ChooseReportPath, OpenReport});
}

void CommSettingsDialog::OnOK() {
    if (exchange_.Save())
        accept();
}

// The list holds the devices present, with the one the number reaches now
// (which may be absent, an unplugged adapter, say) selected at the top.
void CommSettingsDialog::ShowPortDevice() {
    auto* list = ControlAs<QComboBox>(id::kPortDevice);
    const int port = PortFieldNumber();
    const std::vector<std::string> reached =
        port >= 1 ? master_.DevicesFor(port) : std::vector<std::string>{};
    std::vector<std::string> devices = SerialDevicesPresent();
    const std::string current = reached.empty() ? kNoDevice : reached.front();
    if (std::find(devices.begin(), devices.end(), current) == devices.end())
        devices.insert(devices.begin(), current);
    const QSignalBlocker quiet(list);
    list->clear();
    for (const std::string& device : devices)
        list->addItem(QString::fromStdString(device));
    list->setCurrentText(QString::fromStdString(current));
    list->setToolTip(list->currentText());
}

// The choice is kept at once: it belongs to this computer's wiring, not to
// the settings OK saves, and the scan and the report use it right away.
void CommSettingsDialog::OnDeviceChosen(int index) {
    const int port = PortFieldNumber();
    const std::string device = ControlAs<QComboBox>(id::kPortDevice)->itemText(index).toStdString();
    if (port >= 1 && device != kNoDevice) {
        StorePortDevice(profile_, port, device);
        SyncAndReport(profile_, master_.Ui());
    }
    ShowPortDevice();
}

std::optional<std::string> CommSettingsDialog::AskReportPath() {
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.setNameFilters({QStringLiteral("Text Files (*.txt)"), QStringLiteral("All Files (*)")});
    dialog.selectFile(QStringLiteral("Config"));
    // Overwriting asks first (Qt's default, kept on purpose).
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

void RunCommSettingsDialog(ModbusMaster& master, Profile& profile, QWidget* parent) {
    CommSettings& settings = master.Settings();
    CommSettingsDialog dialog(master, profile, FieldsFromSettings(settings), parent);
    if (dialog.exec() != QDialog::Accepted)
        return;
    CopyFieldsToSettings(dialog.Fields(), settings);
    SaveSettings(settings, profile);
    SyncAndReport(profile, master.Ui());
}

}  // namespace fc
