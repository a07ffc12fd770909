#include "app/main_dialog.h"
#include "connection/comm_settings_page.h"
#include "download/download_page.h"
#include "registers/register_page.h"
#include "ui/page_host.h"

namespace fc {

void AttachPageControllers(MainDialog& dialog) {
    // The pages' handlers arrive here, one line each.
    dialog.AdoptController(std::make_unique<DownloadPage>(dialog));
    dialog.AdoptController(std::make_unique<CommSettingsPage>(dialog));
    dialog.AdoptController(std::make_unique<RegisterPage>(dialog));
}

}  // namespace fc
