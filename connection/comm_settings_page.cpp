#include "connection/comm_settings_page.h"

#include "app/main_dialog.h"
#include "ui/main_dialog_template.h"
#include "connection/comm_settings_dialog.h"

namespace fc {

CommSettingsPage::CommSettingsPage(MainDialog& dialog) {
    dialog.SetCommandHandler(ids::kCommSettings, [&dialog] {
        RunCommSettingsDialog(dialog.Master(), dialog.Store(), &dialog);
    });
}

}  // namespace fc
