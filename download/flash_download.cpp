#include "download/flash_download.h"

#include <algorithm>
#include <array>
#include <thread>

#include "download/image_file.h"
#include "download/messages.h"
#include "modbus/comm_settings.h"
#include "modbus/modbus_master.h"
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

DownloadHooks WithDefaults(DownloadHooks hooks) {
    if (!hooks.wait)
        hooks.wait = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
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
    : master_(master), file_path_(std::move(file_path)), hooks_(WithDefaults(std::move(hooks))) {}

void FlashDownload::PumpPaintMessages() {
    master_.Ui().PumpPaintMessages();
}

bool FlashDownload::Fail(const char* text) {
    master_.Ui().ShowMessage({text, "", MessageButtons::Ok, MessageIcon::None});
    return false;
}

bool FlashDownload::RunDownload() {
    // An image the loader cannot number is refused while the unit still runs
    // its application: nothing is sent for it, not even the first read. A
    // file that cannot be opened here is left to the open after entering
    // download mode, which reports it.
    if (!ImageFitsTheLoader())
        return Fail(m::kImageTooLarge);
    uint8_t probe[2] = {};
    if (!master_.ReadRegisterBlock(kLoaderVersionRegister, probe, 1))
        return false;
    int loader_version = 0;
    if (!EnterDownloadMode(loader_version))
        return Fail(m::kUnableToPlaceInDownloadMode);
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

bool FlashDownload::ImageFitsTheLoader() {
    ImageFile file;
    return !file.Open(file_path_) || file.Length() <= kMaxImageLength;
}

// The unit answers the enter request and resets into its loader, which
// listens at its own fixed settings; the version it reports decides the rest.
bool FlashDownload::EnterDownloadMode(int& loader_version) {
    master_.Ui().SetStatusText(m::kSettingDownloadMode);
    master_.WriteRegister16(kLoaderVersionRegister, kEnterDownloadMode);
    loader_version = 0;
    PumpPaintMessages();
    ClosePort(master_);
    ApplyLoaderSettings(master_.Settings());
    ReestablishLink();
    return master_.ReadRegister16(kLoaderVersionRegister, loader_version) && loader_version != 0;
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
    if (!file.Open(file_path_))
        return Fail(m::kUnableToOpenImage);
    file_length_ = file.Length();
    // The early check saw the file before the unit was switched; it may have
    // grown since.
    if (file_length_ % kSectorSize != 0 || file_length_ > kMaxImageLength)
        return Fail(m::kNotTheRightSize);
    sector_count_ = static_cast<int>(file_length_ / kSectorSize);
    master_.Ui().SetProgressRange(0, sector_count_);
    start_second_ = hooks_.clock();
    std::array<uint8_t, kSectorSize> data{};
    for (int sector = 0; sector < sector_count_; ++sector) {
        PumpPaintMessages();
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
        PumpPaintMessages();
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
        PumpPaintMessages();
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

bool RunDownloadSession(ModbusMaster& master, const std::string& file_path,
                        const DownloadHooks& hooks, const std::function<void()>& link_up) {
    (void)Connect(master);
    master.Links().LinkState = kLinkDownloading;
    if (link_up)
        link_up();
    int ignored = 0;
    if (!master.ReadRegister16(kLoaderVersionRegister, ignored)) {
        master.Ui().ShowMessage(
            {download_messages::kUnableToCommunicate, "", MessageButtons::Ok, MessageIcon::None});
        return false;
    }
    FlashDownload download(master, file_path, hooks);
    const bool completed = download.RunDownload();
    ClosePort(master);
    return completed;
}

}  // namespace fc
