#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <string>

#include "ui/control_table.h"
#include "ui/field_exchange.h"
#include "ui/held_close.h"
#include "ui/stop_button.h"

class QComboBox;

namespace fc {

struct CommSettings;
class ModbusMaster;
class Profile;

// Control ids of the Comm Settings dialog.
namespace comm_ids {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kPort = 1001;
inline constexpr int kBaud = 1002;
inline constexpr int kParity = 1003;
inline constexpr int kDataBits = 1004;
inline constexpr int kStopBits = 1005;
inline constexpr int kType = 1006;
inline constexpr int kAutoDetect = 1007;
inline constexpr int kUseIP = 1008;
inline constexpr int kIPAddress = 1009;
inline constexpr int kIPPort = 1010;
inline constexpr int kProtocol = 1011;
inline constexpr int kUnitId = 1012;
inline constexpr int kTimeout = 1013;
inline constexpr int kRetry = 1014;
inline constexpr int kPortReport = 1015;
// The device COM n reaches, and the choice of another (Linux has no COM n).
inline constexpr int kPortDevice = 1016;
inline constexpr int kRemoveEcho = 1017;
// Stops the scan that runs (Escape too).
inline constexpr int kStopScan = 1018;
inline constexpr int kSerialGroup = 1200;
inline constexpr int kIPGroup = 1201;
inline constexpr int kAdvancedGroup = 1202;
}  // namespace comm_ids

inline constexpr int kTimeoutMax = 1000;
inline constexpr int kRetryMax = 100;
inline constexpr int kIPPortMax = 65000;

// The dialog's values, in exchange order; list positions where the dialog
// shows a list.
struct CommSettingsFields {
    int BaudPosition = 0;
    int DataBitsPosition = 0;  // DataBits - 5
    int ParityPosition = 0;
    int Port = 0;
    int StopBitsPosition = 0;
    int TypePosition = 0;
    int Unit = 0;
    int Timeout = 0;
    int Retry = 0;
    bool UseIP = false;
    int IPPort = 0;
    bool RemoveEcho = false;
    int ProtocolPosition = 0;
    std::string IPAddress;
};

CommSettingsFields FieldsFromSettings(const CommSettings& settings);
// What OK copies back into the live record.
void CopyFieldsToSettings(const CommSettingsFields& fields, CommSettings& settings);

// The Comm Settings dialog. It works on the live record while it is open
// (the "Use Internet Protocol" click and a found device change it at once);
// everything else reaches the record only through the caller's copy on OK.
class CommSettingsDialog : public QDialog {
    Q_OBJECT

  public:
    CommSettingsDialog(ModbusMaster& master, Profile& profile, const CommSettingsFields& fields,
                       QWidget* parent = nullptr);
    ~CommSettingsDialog() override;

    QWidget* Control(int id) const;
    template <typename Widget>
    Widget* ControlAs(int id) const {
        return qobject_cast<Widget*>(Control(id));
    }
    const CommSettingsFields& Fields() const { return fields_; }

    // The report's save dialog (empty when cancelled) and its opener; the
    // tests put their own in.
    std::function<std::optional<std::string>()> ChooseReportPath;
    std::function<void(const std::string& path)> OpenReport;

    void OnUseIP();
    void OnAutoDetect();
    void OnGenerateReport();
    void OnOK();

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void RunAutoDetect(const StopButton::Armed& stop);
    void FillLists();
    void BindFields();
    void ConnectButtons();
    void OnInitDialog();
    void ShowPortDevice();
    void OnDeviceChosen(int index);
    int PortFieldNumber() const;
    std::optional<std::string> AskReportPath();

    ModbusMaster& master_;
    Profile& profile_;
    CommSettingsFields fields_;
    ControlMap controls_;
    FieldExchange exchange_;
    bool initialised_ = false;
    bool scanning_ = false;
    StopButton* stop_ = nullptr;
    HeldClose held_close_{*this};
};

// Runs the dialog over the live record: OK copies back and saves every key,
// Cancel copies nothing.
void RunCommSettingsDialog(ModbusMaster& master, Profile& profile, QWidget* parent);

}  // namespace fc
