#pragma once

#include <QWidget>
#include <functional>
#include <string>

namespace fc {

struct CommSettings;
struct LinkFlags;
class ModbusMaster;
class Profile;
class StopButton;
class UserInterface;

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

// What a page sees of the window that hosts it: its controls by id, the
// exchanged fields, the driver and the services around it. Pages depend on
// this and never on the window itself, so the window can change without
// rippling into every page.
class PageHost {
  public:
    virtual ~PageHost() = default;

    // The window itself: the parent of a page's dialogs and timers.
    virtual QWidget* Window() = 0;
    // The control with the given id; nullptr for an unknown id.
    virtual QWidget* Control(int id) const = 0;
    template <typename Widget>
    Widget* ControlAs(int id) const {
        return qobject_cast<Widget*>(Control(id));
    }

    virtual MainFields& Fields() = 0;
    // Controls to fields; false (after the prompt, with the focus on the
    // failing control) when a field does not parse.
    virtual bool SaveFields() = 0;

    virtual UserInterface& Ui() = 0;
    virtual ModbusMaster& Master() = 0;
    virtual CommSettings& Settings() = 0;
    virtual LinkFlags& Link() = 0;
    virtual Profile& Store() = 0;

    // Runs handler when the push button with the given id is clicked,
    // replacing any handler it had.
    virtual void SetCommandHandler(int id, std::function<void()> handler) = 0;
    // Every button handler and timer tick runs as an operation; a tick that
    // finds one running must not start its own open/write/close inside it.
    virtual void RunOperation(const std::function<void()>& operation) = 0;
    virtual bool OperationRunning() const = 0;
    // While `reason` is non-empty, a close request during the operation is
    // refused with it instead of being carried out when the operation ends.
    virtual void RefuseCloseWith(std::string reason) = 0;
    // The window's Stop for the operation that runs, armed by the page whose
    // operation can be stopped.
    virtual StopButton& OperationStop() = 0;

    // The full path of the chosen image file (File Downloader page).
    std::string FilePath;
};

// What a page of the main window adds to it (the download page, the register
// pages, the Comm Settings button): an object the window owns for its life,
// which connects its handlers to the window's buttons when it is made.
class PageController {
  public:
    virtual ~PageController() = default;
};

}  // namespace fc
