#include "download/flash_download.h"

#include <algorithm>
#include <array>

#include "download/image_file.h"
#include "download/messages.h"
#include "download/unit_contact.h"
#include "modbus/comm_settings.h"
#include "modbus/modbus_master.h"
#include "platform/stop_request.h"
#include "platform/user_interface.h"
#include "platform/wall_clock.h"

namespace fc {

namespace m = download_messages;

namespace {

constexpr int kSectorRegisters = kSectorSize / 2;
// Registers per data request: version 2 takes bigger blocks at its higher
// speed; version 1's buffer takes 64 at a time.
constexpr int kVersion2Block = 112;
constexpr int kVersion1Block = 64;

DownloadHooks WithDefaults(ModbusMaster& master, DownloadHooks hooks) {
    if (!hooks.wait)
        hooks.wait = [&master](std::chrono::milliseconds ms) { SleepPumping(master.Ui(), ms); };
    if (!hooks.clock)
        hooks.clock = WallClockSecond;
    return hooks;
}

}  // namespace

void ApplyLoaderSettings(CommSettings& settings) {
    settings.BaudRate = kLoaderSlowBaudIndex;
    settings.ModbusType = kModbusRtu;
    settings.Parity = 0;
    settings.DataBits = 8;
    settings.StopBits = 0;
    settings.UnitId = 1;
}

FlashDownload::FlashDownload(ModbusMaster& master, std::string file_path, DownloadHooks hooks)
    : master_(master),
      file_path_(std::move(file_path)),
      hooks_(WithDefaults(master, std::move(hooks))) {}

void FlashDownload::PumpPaintMessages() {
    master_.Ui().PumpPaintMessages();
}

// A stopped run says nothing of the failures its stop caused: the caller
// tells what the stop left.
bool FlashDownload::Fail(const char* text) {
    if (!stopped_)
        master_.Ui().ShowMessage({text, "", MessageButtons::Ok, MessageIcon::None});
    return false;
}

bool FlashDownload::Continue() {
    PumpPaintMessages();
    if (hooks_.stop != nullptr && hooks_.stop->Raised())
        stopped_ = true;
    return !stopped_;
}

bool FlashDownload::RunDownload() {
    if (!ImageIsSound())
        return false;
    uint8_t probe[2] = {};
    if (!master_.ReadRegisterBlock(kLoaderVersionRegister, probe, 1) || !Continue())
        return false;
    int loader_version = 0;
    if (!EnterDownloadMode(loader_version))
        return Fail(m::kUnableToPlaceInDownloadMode);
    return RunInLoader(loader_version);
}

bool FlashDownload::RecoverDownload(int loader_version) {
    if (!ImageIsSound())
        return false;
    unit_mode_ = UnitMode::InLoader;
    return RunInLoader(loader_version);
}

// An image that would fail the transfer is refused while the unit still runs
// its application: nothing is sent for it, not even the first read, and no
// unit is left in its loader for the sake of a file that was never sound.
bool FlashDownload::ImageIsSound() {
    const ImageVerdict verdict = hooks_.image ? JudgeImage(*hooks_.image) : JudgeImage(file_path_);
    if (verdict == ImageVerdict::Fine)
        return true;
    return Fail(ImageVerdictText(verdict, m::kUnableToOpenImage));
}

bool FlashDownload::RunInLoader(int loader_version) {
    if (loader_version == kLoaderVersion2) {
        master_.WriteRegister16(kLoaderSpeedRegister, kLoaderFastBaudIndex);
        SwitchLoaderSpeed(kLoaderFastBaudIndex);
        master_.Ui().SetStatusText(m::kLoaderV2Found);
    } else {
        master_.Ui().SetStatusText(m::kLoaderV1Found);
    }
    if (!Transfer(loader_version))
        return false;
    if (loader_version == kLoaderVersion2) {
        master_.WriteRegister16(kLoaderSpeedRegister, kLoaderSlowBaudIndex);
        SwitchLoaderSpeed(kLoaderSlowBaudIndex);
    }
    return LeaveDownloadMode();
}

bool FlashDownload::OpenImage(ImageFile& file) const {
    return hooks_.image ? file.Open(hooks_.image) : file.Open(file_path_);
}

// The unit answers the enter request and resets into its loader, which
// listens at its own fixed settings; the version it reports decides the rest.
bool FlashDownload::EnterDownloadMode(int& loader_version) {
    master_.Ui().SetStatusText(m::kSettingDownloadMode);
    master_.WriteRegister16(kLoaderVersionRegister, kEnterDownloadMode);
    // Whatever the reply, the unit may have taken the request.
    unit_mode_ = UnitMode::MaybeInLoader;
    loader_version = 0;
    PumpPaintMessages();
    ClosePort(master_);
    ApplyLoaderSettings(master_.Settings());
    ReestablishLink();
    if (!master_.ReadRegister16(kLoaderVersionRegister, loader_version) || loader_version == 0)
        return false;
    unit_mode_ = UnitMode::InLoader;
    return true;
}

void FlashDownload::SwitchLoaderSpeed(int baud_index) {
    master_.Settings().BaudRate = baud_index;
    ClosePort(master_);
    ReestablishLink();
}

// Reconnect leaves the serial gate shut; the loader is known to be there, so
// the run opens it itself and lets the next request find out.
void FlashDownload::ReestablishLink() {
    Reconnect(master_, hooks_.reopen);
    master_.Links().LinkOpen = kLinkDownloading;
}

bool FlashDownload::Transfer(int loader_version) {
    ImageFile file;
    if (!OpenImage(file))
        return Fail(m::kUnableToOpenImage);
    file_length_ = file.Length();
    // The early check saw the file before the unit was switched; it may have
    // changed since.
    if (file_length_ == 0 || file_length_ % kSectorSize != 0 || file_length_ > kMaxImageLength)
        return Fail(m::kNotTheRightSize);
    sector_count_ = static_cast<int>(file_length_ / kSectorSize);
    master_.Ui().SetProgressRange(0, sector_count_);
    start_second_ = hooks_.clock();
    std::array<uint8_t, kSectorSize> data{};
    for (int sector = 0; sector < sector_count_; ++sector) {
        if (!Continue())
            return false;
        master_.Ui().SetProgressPosition(sector);
        if (!file.ReadSector(data))
            return Fail(m::kFileReadError);
        const bool written = WriteSector(data, static_cast<uint16_t>(sector), loader_version);
        ShowProgress(sector);
        if (!written)
            return false;
    }
    return true;
}

bool FlashDownload::LeaveDownloadMode() {
    if (!master_.WriteRegister16(kLoaderVersionRegister, kLeaveDownloadMode))
        return Fail(m::kUnableToExitDownloadMode);
    unit_mode_ = UnitMode::Application;
    master_.Ui().SetStatusText(m::kBeingReset);
    hooks_.wait(kResetWait);
    master_.Ui().SetStatusText("");
    master_.Ui().ShowMessage({m::kDownloadCompleted, "", MessageButtons::Ok, MessageIcon::None});
    return true;
}

bool FlashDownload::WriteSector(std::span<const uint8_t, kSectorSize> data, uint16_t sector,
                                int loader_version) {
    // The loader starts a new image on this value, so it goes before the
    // first sector only.
    if (sector == 0)
        master_.WriteRegister16(kFlashCommandRegister, kStartOfImage);
    const bool version2 = loader_version == kLoaderVersion2;
    if (!WriteSectorData(data, version2 ? kVersion2Block : kVersion1Block))
        return Fail(m::kErrorWritingSectorData);
    return RequestFlashWrite(sector, loader_version) && AwaitFlashWrite();
}

// The sector buffer in blocks; the first failure ends the sector there.
bool FlashDownload::WriteSectorData(std::span<const uint8_t, kSectorSize> data,
                                    int block_registers) {
    for (int first = 0; first < kSectorRegisters; first += block_registers) {
        const int count = std::min(block_registers, kSectorRegisters - first);
        if (!Continue())
            return false;
        if (!master_.WriteRegisterBlock(kSectorBufferRegister + first, data.data() + 2 * first,
                                        count))
            return false;
    }
    return true;
}

bool FlashDownload::RequestFlashWrite(uint16_t sector, int loader_version) {
    if (loader_version == kLoaderVersion2) {
        // Version 2 takes the command and the sector number in one request.
        if (!master_.WriteRegister32(kFlashCommandRegister, (kFlashWrite << 16) + sector))
            return Fail(m::kErrorWritingSectorNumber);
        return true;
    }
    if (!master_.WriteRegister16(kSectorNumberRegister, sector))
        return Fail(m::kErrorWritingSectorNumber);
    if (!master_.WriteRegister16(kFlashCommandRegister, kFlashWrite))
        return Fail(m::kErrorRequestingFlashWrite);
    return true;
}

// Back-to-back status reads: the flash write of a sector is quick, and a
// loader still busy after five reads is taken as hung.
bool FlashDownload::AwaitFlashWrite() {
    int status = kFlashBusy;
    for (int polls = 0; status == kFlashBusy && polls < kMaxStatusPolls; ++polls) {
        if (!Continue())
            return false;
        if (!master_.ReadRegister16(kFlashCommandRegister, status))
            return Fail(m::kErrorWaitingForFlashWrite);
    }
    switch (status) {
        case kFlashWritten:
            return true;
        case kFlashBusy:
            return Fail(m::kFlashWriteTimedOut);
        case kFlashFailed:
            return Fail(m::kFlashWriteFailed);
        case kFlashInvalidSector:
            return Fail(m::kInvalidSector);
        default:
            return Fail(m::kUnexpectedFlashResponse);
    }
}

void FlashDownload::ShowProgress(int sectors_done) {
    const auto texts = ComputeProgressTexts(hooks_.clock() - start_second_, sectors_done,
                                            sector_count_, file_length_);
    if (!texts)
        return;
    UserInterface& ui = master_.Ui();
    ui.SetProgressText(kElapsedTimeText, texts->elapsed);
    ui.SetProgressText(kTransferRateText, texts->rate);
    ui.SetProgressText(kBytesSentText, texts->sent);
    if (texts->left)
        ui.SetProgressText(kTimeLeftText, *texts->left);
}

namespace {

void Tell(ModbusMaster& master, const char* text, MessageIcon icon = MessageIcon::None) {
    master.Ui().ShowMessage({text, "", MessageButtons::Ok, icon});
}

DownloadOutcome ContactAndDownload(ModbusMaster& master, const std::string& file_path,
                                   const DownloadHooks& hooks) {
    DownloadOutcome outcome;
    const auto interrupted = [&](UnitMode unit) {
        outcome.result = DownloadResult::Interrupted;
        outcome.unit = unit;
        outcome.signal = hooks.stop->Signal();
        return outcome;
    };
    // The first contact runs at the user's Retry: it is one read, and the
    // loader search must not wait behind a series meant for the resets.
    const UnitContact contact = ContactUnit(master, hooks.stop);
    outcome.recovered = contact.found == UnitFound::Loader;
    const UnitMode found_in = outcome.recovered ? UnitMode::InLoader : UnitMode::Application;
    if (hooks.stop != nullptr && hooks.stop->Raised())
        return interrupted(found_in);
    if (contact.found == UnitFound::Nothing) {
        Tell(master, download_messages::kUnableToCommunicate);
        return outcome;
    }
    master.Settings().Retry = kDownloadRetry;
    FlashDownload download(master, file_path, hooks);
    bool completed = false;
    if (outcome.recovered) {
        Tell(master, download_messages::kAlreadyInDownloadMode, MessageIcon::Information);
        completed = download.RecoverDownload(contact.loader_version);
    } else {
        completed = download.RunDownload();
    }
    if (download.Stopped())
        return interrupted(download.LeftUnitIn());
    outcome.result = completed ? DownloadResult::Completed : DownloadResult::Failed;
    outcome.unit = download.LeftUnitIn();
    return outcome;
}

const char* LeftInLoaderNote(UnitMode unit) {
    switch (unit) {
        case UnitMode::InLoader:
            return download_messages::kLeftInDownloadMode;
        case UnitMode::MaybeInLoader:
            return download_messages::kMaybeLeftInDownloadMode;
        case UnitMode::Application:
            break;
    }
    return nullptr;
}

}  // namespace

DownloadOutcome RunDownloadSession(ModbusMaster& master, const std::string& file_path,
                                   const DownloadHooks& hooks,
                                   const std::function<void()>& link_up) {
    LinkFlags& links = master.Links();
    const int kept_link_state = links.LinkState;
    DownloadOutcome outcome;
    {
        KeptSettings kept(master.Settings());
        // Only the link: the contact that follows asks the unit, at its own
        // settings or at its loader's.
        (void)Connect(master, [](ModbusMaster&) { return true; });
        links.LinkState = kLinkDownloading;
        if (link_up)
            link_up();
        outcome = ContactAndDownload(master, file_path, hooks);
        ClosePort(master);
        Disconnect(master);
    }
    links.LinkState = kept_link_state;
    return outcome;
}

std::string DownloadFailureText(UnitMode unit) {
    std::string text = download_messages::kUnableToFinishDownload;
    if (const char* note = LeftInLoaderNote(unit))
        text += std::string("\n\n") + note;
    return text;
}

std::string InterruptionText(UnitMode unit) {
    const char* note = LeftInLoaderNote(unit);
    return std::string(download_messages::kDownloadInterrupted) + " " +
           (note != nullptr ? note : download_messages::kNotSwitched);
}

}  // namespace fc
