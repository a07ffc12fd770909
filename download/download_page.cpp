#include "download/download_page.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

#include "connection/connection.h"
#include "download/download_progress.h"
#include "download/image_file.h"
#include "download/messages.h"
#include "download/unit_contact.h"
#include "modbus/comm_settings.h"
#include "modbus/modbus_master.h"
#include "platform/profile.h"
#include "platform/user_interface.h"
#include "ui/main_dialog_template.h"
#include "ui/stop_button.h"

namespace fc {

namespace m = download_messages;

std::optional<std::string> ChooseImageFile(const std::string& folder) {
    QFileDialog dialog(QApplication::activeWindow(), QString(), QString::fromStdString(folder),
                       QString::fromUtf8(m::kImageFilter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A name that does not exist yet is let through, so the field can be
    // typed in freely; Start Download then finds that it cannot be opened.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromUtf8(m::kImageSuffix));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? std::string() : files.front().toStdString();
}

DownloadPage::DownloadPage(PageHost& dialog, ImageFileChooser chooser, DownloadHooks hooks)
    : dialog_(dialog), chooser_(std::move(chooser)), hooks_(std::move(hooks)) {
    dialog_.SetCommandHandler(ids::kTestCommunication, [this] { OnTestCommunication(); });
    dialog_.SetCommandHandler(ids::kBrowse, [this] { OnBrowse(); });
    dialog_.SetCommandHandler(ids::kStartDownload, [this] { OnStartDownload(); });
}

void DownloadPage::SetEnabled(int id, bool enabled) {
    dialog_.Control(id)->setEnabled(enabled);
}

void DownloadPage::ShowProgressBar(bool shown) {
    dialog_.Control(ids::kProgressBar)->setVisible(shown);
}

// Over TCP the test asks the unit; a unit left in its loader answers only at
// the loader's unit, is told about and passes, so Start Download can
// recover it. A silent unit holds the test for its attempts at every place a
// loader may listen; Stop (or Escape) ends it there, as it ends a download.
void DownloadPage::OnTestCommunication() {
    ModbusMaster& master = dialog_.Master();
    const StopButton::Armed stop(dialog_.OperationStop());
    const ModbusMaster::StopScope stoppable(master, stop.Request());
    if (Connect(master, [](ModbusMaster& m) { return ProbeUnitOrLoader(m); })) {
        NoteUnitAnswered(master, true);
        SetEnabled(ids::kTestCommunication, false);
        SetEnabled(ids::kBrowse, true);
        SetEnabled(ids::kFileBox, true);
        SetEnabled(ids::kStartDownload, true);
        // The next step.
        dialog_.Control(ids::kBrowse)->setFocus();
    }
    Disconnect(master);
}

// The folder is kept with its trailing "/" (this platform's separator), so
// the next Browse opens where the last image came from.
void DownloadPage::OnBrowse() {
    Profile& profile = dialog_.Store();
    const std::string folder =
        profile.GetString(settings_keys::kSection, settings_keys::kCurrentDir, "");
    const std::optional<std::string> chosen = chooser_(folder);
    if (!chosen)
        return;
    dialog_.FilePath = *chosen;
    profile.WriteString(settings_keys::kSection, settings_keys::kCurrentDir,
                        FolderOfPath(dialog_.FilePath));
    SyncAndReport(profile, dialog_.Ui());
    dialog_.ControlAs<QLineEdit>(ids::kFileBox)
        ->setText(QString::fromStdString(ShortenPathForDisplay(dialog_.FilePath)));
    CheckImageSelected();
}

void DownloadPage::CheckImageSelected() {
    dialog_.SaveFields();
    if (dialog_.FilePath.empty()) {
        dialog_.Ui().ShowMessage(
            {m::kNoFileNameSelected, "", MessageButtons::Ok, MessageIcon::None});
        return;
    }
    SetEnabled(ids::kBrowse, false);
    SetEnabled(ids::kFileBox, false);
    SetEnabled(ids::kStartDownload, true);
    dialog_.Control(ids::kStartDownload)->setFocus();
}

void DownloadPage::OnStartDownload() {
    WaitCursor cursor(dialog_.Ui());
    // A field that does not parse has no bearing on the download.
    (void)dialog_.SaveFields();
    // The image is read and judged before anything is asked or sent; the
    // bytes confirmed are the bytes flashed.
    const LoadedImage image = LoadImage(dialog_.FilePath);
    if (image.verdict != ImageVerdict::Fine) {
        dialog_.Ui().ShowMessage({ImageRefusalText(image, m::kUnableToOpenSelectedFile), "",
                                  MessageButtons::Ok, MessageIcon::None});
        return;
    }
    const MessageBox confirm{ConfirmDownloadText(image), m::kConfirmCaption,
                             MessageButtons::YesNo, MessageIcon::Warning};
    if (dialog_.Ui().ShowMessage(confirm) != MessageAnswer::Yes)
        return;

    SetEnabled(ids::kStartDownload, false);
    SetEnabled(ids::kStartOver, false);
    // The image cannot be changed while it is being sent; the choice comes
    // back as it was afterwards (a test just before leaves it open).
    const bool browse_was_enabled = dialog_.Control(ids::kBrowse)->isEnabled();
    SetEnabled(ids::kBrowse, false);
    SetEnabled(ids::kFileBox, false);
    dialog_.RefuseCloseWith(m::kCloseRefusedDuringDownload);
    DownloadOutcome outcome;
    {
        const StopButton::Armed stop(dialog_.OperationStop());
        DownloadHooks hooks = hooks_;
        hooks.stop = stop.Request();
        outcome = RunDownloadSession(dialog_.Master(), image.bytes, hooks,
                                     [this] { ShowProgressBar(true); });
    }
    dialog_.RefuseCloseWith("");
    const bool completed = outcome.result == DownloadResult::Completed;
    SetEnabled(ids::kStartDownload, !completed);
    SetEnabled(ids::kStartOver, true);
    SetEnabled(ids::kBrowse, browse_was_enabled);
    SetEnabled(ids::kFileBox, browse_was_enabled);
    // After a download that did not complete, running it again is the way
    // on; after one that did, starting over.
    dialog_.Control(completed ? ids::kStartOver : ids::kStartDownload)->setFocus();
    if (!completed) {
        // The status line must not go on saying that bytes are being sent.
        dialog_.Ui().SetStatusText(EndStatusText(outcome));
        TellDownloadOutcome(dialog_.Ui(), outcome);
    }
    ShowProgressBar(false);
}

}  // namespace fc
