#pragma once

#include "ui/page_host.h"

namespace fc {

class PageHost;

// The main window's "Comm Settings" button.
class CommSettingsPage : public PageController {
  public:
    explicit CommSettingsPage(PageHost& dialog);
};

}  // namespace fc
