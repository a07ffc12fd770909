#include "app/loader_app.h"

#include <csignal>

#include "app/app_messages.h"
#include "app/main_dialog.h"
#include "platform/application_title.h"
#include "ui/qt_user_interface.h"

namespace fc {

bool InitializeSockets() {
    return std::signal(SIGPIPE, SIG_IGN) != SIG_ERR;
}

LoaderApp::LoaderApp(SocketStartUp socket_start_up)
    : Master(Settings, Link, Ui, ProfilePortResolver(ApplicationTitle())),
      socket_start_up_(socket_start_up) {}

LoaderApp::~LoaderApp() = default;

bool LoaderApp::InitInstance() {
    if (!socket_start_up_()) {
        QtUserInterface no_window(nullptr, nullptr);
        no_window.ShowMessage(
            {app_messages::kSocketInitFailed, "", MessageButtons::Ok, MessageIcon::Warning});
        return false;
    }
    profile_ = std::make_unique<Profile>(ApplicationTitle());
    auto dialog = std::make_unique<MainDialog>(Master, *profile_);
    Ui.SetTarget(&dialog->Ui());
    LoadSettings(Settings, *profile_);
    WriteBackSettings(Settings, *profile_);
    // Every key is on disk from the first run on, whatever happens later; a
    // profile that cannot be written (left root-owned by a sudo run, say) is
    // named now, before the user sets anything up that would not be kept.
    SyncAndReport(*profile_, dialog->Ui());
    dialog->exec();
    Ui.SetTarget(nullptr);
    dialog.reset();
    return false;
}

}  // namespace fc
