#pragma once

#include "ui/page_host.h"

namespace fc {

class MainDialog;

// The main window's "Comm Settings" button.
class CommSettingsPage : public PageController {
  public:
    explicit CommSettingsPage(MainDialog& dialog);
};

}  // namespace fc
