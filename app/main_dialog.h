#pragma once

#include <QDialog>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/control_table.h"
#include "ui/field_exchange.h"
#include "ui/page_host.h"
#include "ui/qt_user_interface.h"

class QTabWidget;

namespace fc {

struct CommSettings;
struct LinkFlags;
class ModbusMaster;
class Profile;

// The values the main window exchanges with its controls, in exchange order.
struct MainFields {
    int Address = 2200;        // 1022
    int RegisterSize = 0;      // 1061 "4-Byte" / 1062 "2-Byte"
    int ByteOrder = 0;         // 1063 "(HI/LO)" / 1064 "(LO/HI)"
    int UpdatePeriod = 10;     // 1069, seconds, 0 to 130000
    int ClockRegister = 4203;  // 1072
    int IncreaseBy = 0;        // 1074 "1 Hour" / 1075 "1 Minute" / 1081 "1 Day"
    int DateRegister = 4201;   // 1076
    int LoopInterval = 1;      // 1099, seconds
    float DataIncrement = 0;   // 1097
    double HiLimit = 10000;    // 1101
    double LowLimit = 0;       // 1102
};

inline constexpr int kUpdatePeriodMin = 0;
inline constexpr int kUpdatePeriodMax = 130000;

// The one main window: three tab pages over one set of controls, all made
// from the control table. The pages' behaviour comes from page controllers
// (AttachPageControllers), which find controls by id, read and write the
// exchanged fields, and hang their handlers on the buttons with
// SetCommandHandler.
class MainDialog : public QDialog {
    Q_OBJECT

  public:
    // The window works the one driver, whose settings and link flags it shows
    // and changes; the driver's messages reach the user through Ui() once the
    // owner has pointed the driver's relay at it.
    MainDialog(ModbusMaster& master, Profile& profile, QWidget* parent = nullptr);
    ~MainDialog() override;

    // The control with the given id; nullptr for an unknown id.
    QWidget* Control(int id) const;
    template <typename Widget>
    Widget* ControlAs(int id) const {
        return qobject_cast<Widget*>(Control(id));
    }

    MainFields& Fields() { return fields_; }
    // Controls to fields; false (after the prompt, with the focus on the
    // failing control) when a field does not parse.
    bool SaveFields();
    // Fields to controls.
    void LoadFields();

    UserInterface& Ui() { return ui_; }
    ModbusMaster& Master() { return master_; }
    CommSettings& Settings() { return settings_; }
    LinkFlags& Link() { return link_; }
    Profile& Store() { return profile_; }

    // The full path of the chosen image file (File Downloader page).
    std::string FilePath;

    // Runs handler when the push button with the given id is clicked,
    // replacing any handler it had.
    void SetCommandHandler(int id, std::function<void()> handler);

    // Every button handler and timer tick runs as an operation. A message box
    // of an operation lets the window's timers fire, so a tick that finds an
    // operation running must not start its own open/write/close inside it.
    void RunOperation(const std::function<void()>& operation);
    bool OperationRunning() const { return operation_depth_ > 0; }
    void AdoptController(std::unique_ptr<PageController> controller);

    void ShowPage();
    void OnTabSelChange();
    void OnStartOver();
    void OnAbout();
    // Enter outside a push button: exchange, then close if every field is valid.
    void OnOK();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void BindFields();
    void ConnectButtons();
    void OnInitDialog();
    void OnCommand(int id);
    void SetEnabled(int id, bool enabled);

    ModbusMaster& master_;
    CommSettings& settings_;
    LinkFlags& link_;
    Profile& profile_;
    ControlMap controls_;
    QTabWidget* tabs_ = nullptr;
    MainFields fields_;
    QtUserInterface ui_;
    FieldExchange exchange_;
    std::map<int, std::function<void()>> command_handlers_;
    std::vector<std::unique_ptr<PageController>> controllers_;
    int operation_depth_ = 0;
};

}  // namespace fc
