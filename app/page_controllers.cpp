#include "app/main_dialog.h"
#include "app/page_controller.h"
#include "registers/register_page.h"

namespace fc {

void AttachPageControllers(MainDialog& dialog) {
    // The pages' handlers arrive here, one line each.
    dialog.AdoptController(std::make_unique<RegisterPage>(dialog));
}

}  // namespace fc
