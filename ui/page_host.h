#pragma once

namespace fc {

class MainDialog;

// What a page of the main window adds to it (the download page, the register
// pages, the Comm Settings button): an object the window owns for its life,
// which connects its handlers to the window's buttons when it is made.
class PageController {
  public:
    virtual ~PageController() = default;
};

// Makes every page controller of the window; each layer adds its own here.
void AttachPageControllers(MainDialog& dialog);

}  // namespace fc
