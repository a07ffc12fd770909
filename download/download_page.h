#pragma once

#include <functional>
#include <optional>
#include <string>

#include "download/flash_download.h"
#include "ui/page_host.h"

namespace fc {

class PageHost;

// Asks for the image file, starting in the given folder: the chosen path,
// an empty path when the dialog gave none, nothing when it was cancelled.
using ImageFileChooser = std::function<std::optional<std::string>(const std::string& folder)>;

// The system's file-open dialog for image files.
std::optional<std::string> ChooseImageFile(const std::string& folder);

// The File Downloader page: test the link, choose the image, run the
// download. The chooser and the run's hooks are replaceable because a native
// dialog cannot be driven from a test and the reset wait would hold it up.
class DownloadPage : public PageController {
  public:
    explicit DownloadPage(PageHost& dialog, ImageFileChooser chooser = ChooseImageFile,
                          DownloadHooks hooks = {});

    void OnTestCommunication();
    void OnBrowse();
    void CheckImageSelected();
    void OnStartDownload();

  private:
    void SetEnabled(int id, bool enabled);
    void ShowProgressBar(bool shown);

    PageHost& dialog_;
    ImageFileChooser chooser_;
    DownloadHooks hooks_;
};

}  // namespace fc
