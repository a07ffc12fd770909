#pragma once

#include <QCloseEvent>
#include <QDialog>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/user_interface_relay.h"
#include "ui/control_table.h"
#include "ui/field_exchange.h"
#include "ui/held_close.h"
#include "ui/page_host.h"
#include "ui/qt_user_interface.h"
#include "ui/stop_button.h"

class QMessageBox;
class QTabWidget;

namespace fc {

struct CommSettings;
struct LinkFlags;
class ModbusMaster;
class Profile;
class TrafficWindow;
class WatchWindow;

// The one main window: three tab pages over one set of controls, all made
// from the control table. The pages' behaviour comes from page controllers
// (AttachPageControllers), which find controls by id, read and write the
// exchanged fields, and hang their handlers on the buttons with
// SetCommandHandler.
class MainDialog : public QDialog, public PageHost {
    Q_OBJECT

  public:
    // The window works the one driver, whose settings and link flags it shows
    // and changes; the driver's messages reach the user through Ui() once the
    // owner has pointed the driver's relay at it.
    MainDialog(ModbusMaster& master, Profile& profile, QWidget* parent = nullptr);
    ~MainDialog() override;

    QWidget* Window() override { return this; }
    QWidget* Control(int id) const override;
    using PageHost::ControlAs;

    MainFields& Fields() override { return fields_; }
    bool SaveFields() override;
    // Fields to controls.
    void LoadFields();

    // The driver's answers go through here: the window's own, or during a
    // watch poll the watch's unattended stand-in.
    UserInterface& Ui() override { return driver_ui_; }
    ModbusMaster& Master() override { return master_; }
    CommSettings& Settings() override { return settings_; }
    LinkFlags& Link() override { return link_; }
    Profile& Store() override { return profile_; }

    void SetCommandHandler(int id, std::function<void()> handler) override;
    // A message box of an operation lets the window's timers fire, hence the
    // guard that OperationRunning reads.
    void RunOperation(const std::function<void()>& operation) override;
    bool OperationRunning() const override { return operation_depth_ > 0; }
    void RefuseCloseWith(std::string reason) override;
    StopButton& OperationStop() override { return *stop_; }
    void AdoptController(std::unique_ptr<PageController> controller);

    void ShowPage();
    void OnTabSelChange();
    void OnStartOver();
    void OnAbout();
    // Shows the traffic window (it is not modal) and brings it to the front.
    void OnTraffic();
    TrafficWindow& Traffic() { return *traffic_; }
    // Shows the Watch window (not modal either) beside this one, in front.
    void OnWatch();
    WatchWindow& Watch() { return *watch_; }
    // Enter outside a push button: exchange, then close if every field is valid.
    void OnOK();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void BindFields();
    void ConnectButtons();
    void ConnectTabKeys();
    void OnInitDialog();
    void OnCommand(int id);
    void SetEnabled(int id, bool enabled);
    void ShowCloseRefusal();
    void CloseRefusalBox();

    ModbusMaster& master_;
    CommSettings& settings_;
    LinkFlags& link_;
    Profile& profile_;
    ControlMap controls_;
    QTabWidget* tabs_ = nullptr;
    MainFields fields_;
    QtUserInterface ui_;
    UserInterfaceRelay driver_ui_;
    FieldExchange exchange_;
    std::map<int, std::function<void()>> command_handlers_;
    std::vector<std::unique_ptr<PageController>> controllers_;
    int operation_depth_ = 0;
    // A close that reaches the window while a box or dialog of an operation
    // blocks it gets the same answer as one that arrives during a wait.
    HeldClose held_close_{*this, [this] {
                              if (OperationRunning()) {
                                  QCloseEvent request;
                                  closeEvent(&request);
                              }
                          }};
    std::string close_refusal_;
    QPointer<QMessageBox> refusal_box_;
    StopButton* stop_ = nullptr;
    // Built with the window, so it has watched the driver from the start.
    TrafficWindow* traffic_ = nullptr;
    WatchWindow* watch_ = nullptr;
};

// Ctrl+T is no standard key; neither is Ctrl+Shift+W (Close is Ctrl+W and
// Ctrl+F4, Quit Ctrl+Q).
inline constexpr QKeyCombination kTrafficKey{Qt::CTRL | Qt::Key_T};
inline constexpr QKeyCombination kWatchKey{Qt::CTRL | Qt::SHIFT | Qt::Key_W};

// Makes every page controller of the window; each page adds its own line.
void AttachPageControllers(MainDialog& dialog);

}  // namespace fc
