#pragma once

#include <memory>

#include "modbus/comm_settings.h"
#include "modbus/link_flags.h"
#include "modbus/modbus_master.h"
#include "platform/profile.h"
#include "platform/user_interface_relay.h"

namespace fc {

class MainDialog;
class UserInterface;

// The sockets' process-wide start-up: a peer that closes its end must give
// the sender an error, not end the process with SIGPIPE. False on failure.
bool InitializeSockets();

// The application: the process-wide records and the start-up that runs the
// main window.
class LoaderApp {
  public:
    using SocketStartUp = bool (*)();

    // socket_start_up is replaceable so that its failure can be shown.
    explicit LoaderApp(SocketStartUp socket_start_up = InitializeSockets);
    ~LoaderApp();

    // Starts up, runs the main window until it closes and returns false: the
    // program then ends, with nothing saved at exit.
    bool InitInstance();

    CommSettings Settings;
    // LinkOpen and LinkState.
    LinkFlags Link;
    // Answers for the driver: the main window's user interface while it is up.
    UserInterfaceRelay Ui;
    // The one driver object, built with the records before start-up.
    ModbusMaster Master;

  private:
    SocketStartUp socket_start_up_;
    std::unique_ptr<Profile> profile_;
};

}  // namespace fc
