#include "connection/comm_settings_page.h"

#include "connection/comm_settings_dialog.h"
#include "ui/main_dialog_template.h"

namespace fc {

CommSettingsPage::CommSettingsPage(PageHost& dialog) {
    dialog.SetCommandHandler(ids::kCommSettings, [&dialog] {
        RunCommSettingsDialog(dialog.Master(), dialog.Store(), dialog.Window());
    });
}

}  // namespace fc
