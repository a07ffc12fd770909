#pragma once

#include "app/page_controller.h"

namespace fc {

class MainDialog;

// The main window's "Comm Settings" button.
class CommSettingsPage : public PageController {
  public:
    explicit CommSettingsPage(MainDialog& dialog);
};

}  // namespace fc
