#include "download/flash_download.h"

#include <algorithm>
#include <cstdio>

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
    if (!hooks.wait) {
        hooks.wait = [&master, stop = hooks.stop](std::chrono::milliseconds ms) {
            SleepUnlessStopped(stop, ms, [&master](std::chrono::milliseconds slice) {
                SleepPumping(master.Ui(), slice);
            });
        };
    }
    if (!hooks.clock)
        hooks.clock = WallClockSecond;
    return hooks;
}

}  // namespace

// The note on unanswered attempts is the run's for as long as it lives; a
// watcher of the driver's own has it back afterwards.
FlashDownload::FlashDownload(ModbusMaster& master, ImageBytes image, DownloadHooks hooks)
    : master_(master),
      image_(std::move(image)),
      hooks_(WithDefaults(master, std::move(hooks))),
      attempt_note_(master.OnAttemptFailed,
                    [this](int failed, int attempts) { NoteUnansweredAttempt(failed, attempts); }) {}

void FlashDownload::PumpPaintMessages() {
    master_.Ui().PumpPaintMessages();
}

// A stopped run says nothing of the failures its stop caused (a request
// whose wait the stop cut short fails): the caller tells what the stop left.
bool FlashDownload::Fail(const char* text) {
    if (!StopAsked())
        master_.Ui().ShowMessage({text, "", MessageButtons::Ok, MessageIcon::None});
    return false;
}

bool FlashDownload::StopAsked() {
    if (hooks_.stop != nullptr && hooks_.stop->Raised())
        stopped_ = true;
    return stopped_;
}

// A request has been answered since the note went up (the run goes on only
// past answered requests): the status of the step comes back.
bool FlashDownload::Continue() {
    PumpPaintMessages();
    if (attempt_noted_) {
        attempt_noted_ = false;
        master_.Ui().SetStatusText(status_);
    }
    return !StopAsked();
}

void FlashDownload::SetStatus(const char* text) {
    status_ = text;
    master_.Ui().SetStatusText(text);
}

void FlashDownload::NoteUnansweredAttempt(int failed, int attempts) {
    char text[96];
    std::snprintf(text, sizeof text, m::kNoAnswerAttempt, failed + 1, attempts);
    attempt_noted_ = true;
    master_.Ui().SetStatusText(text);
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
// unit is left in its loader for the sake of an image that was never sound.
bool FlashDownload::ImageIsSound() {
    const ImageVerdict verdict = image_ ? JudgeImage(*image_) : ImageVerdict::CannotOpen;
    if (verdict == ImageVerdict::Fine)
        return true;
    return Fail(ImageVerdictText(verdict, m::kUnableToOpenImage));
}

bool FlashDownload::RunInLoader(int loader_version) {
    const bool version2 = loader_version == kLoaderVersion2;
    if (version2 && !SwitchLoaderSpeed(kLoaderFastBaudIndex))
        return false;
    SetStatus(version2 ? m::kLoaderV2Found : m::kLoaderV1Found);
    if (!Transfer(loader_version))
        return false;
    if (version2 && !SwitchLoaderSpeed(kLoaderSlowBaudIndex))
        return false;
    return LeaveDownloadMode();
}

// The unit answers the enter request and resets into its loader, which
// listens at its own fixed settings; the version it reports decides the rest.
bool FlashDownload::EnterDownloadMode(int& loader_version) {
    loader_version = 0;
    SetStatus(m::kSettingDownloadMode);
    if (!Continue())
        return false;
    master_.WriteRegister16(kLoaderVersionRegister, kEnterDownloadMode);
    // Whatever the reply, the unit may have taken the request.
    unit_mode_ = UnitMode::MaybeInLoader;
    if (!Continue())
        return false;
    ClosePort(master_);
    ApplyLoaderSettings(master_.Settings());
    ReestablishLink();
    if (!master_.ReadRegister16(kLoaderVersionRegister, loader_version) || loader_version == 0)
        return false;
    unit_mode_ = UnitMode::InLoader;
    return true;
}

// Version 2 is told its new speed, then found there; the result of the
// request is not looked at, the requests that follow find out.
bool FlashDownload::SwitchLoaderSpeed(int baud_index) {
    if (!Continue())
        return false;
    master_.WriteRegister16(kLoaderSpeedRegister, baud_index);
    if (!Continue())
        return false;
    master_.Settings().BaudRate = baud_index;
    ClosePort(master_);
    ReestablishLink();
    return true;
}

// Reconnect leaves the serial gate shut; the loader is known to be there, so
// the run opens it itself and lets the next request find out.
void FlashDownload::ReestablishLink() {
    Reconnect(master_, hooks_.reopen);
    OpenGateForLoader(master_);
}

// The bytes judged before the unit was touched, and no others.
bool FlashDownload::Transfer(int loader_version) {
    file_length_ = static_cast<int64_t>(image_->size());
    sector_count_ = static_cast<int>(file_length_ / kSectorSize);
    master_.Ui().SetProgressRange(0, sector_count_);
    start_second_ = hooks_.clock();
    // A unit that leaves requests unanswered stalls the sectors, not the clock.
    const PumpTask ticking(master_.Ui(), [this] { ShowElapsed(); });
    for (int sector = 0; sector < sector_count_; ++sector) {
        if (!Continue())
            return false;
        master_.Ui().SetProgressPosition(sector);
        const std::span<const uint8_t, kSectorSize> data(
            image_->data() + static_cast<size_t>(sector) * kSectorSize, kSectorSize);
        const bool written = WriteSector(data, static_cast<uint16_t>(sector), loader_version);
        ShowProgress(sector);
        if (!written)
            return false;
    }
    return true;
}

// Only the unit's answer tells that it took the request: a refusal leaves it
// in its loader, a lost reply leaves it in one of the two modes.
bool FlashDownload::LeaveDownloadMode() {
    if (!Continue())
        return false;
    if (!master_.WriteRegister16(kLoaderVersionRegister, kLeaveDownloadMode)) {
        unit_mode_ = master_.ExceptionCode != 0 ? UnitMode::InLoader : UnitMode::MaybeInLoader;
        return Fail(m::kUnableToExitDownloadMode);
    }
    unit_mode_ = UnitMode::Flashed;
    SetStatus(m::kBeingReset);
    hooks_.wait(kResetWait);
    SetStatus("");
    if (StopAsked())
        return false;
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

void FlashDownload::ShowElapsed() {
    const int64_t elapsed = hooks_.clock() - start_second_;
    if (elapsed <= 0 || elapsed == shown_elapsed_)
        return;
    shown_elapsed_ = elapsed;
    master_.Ui().SetProgressText(kElapsedTimeText, ElapsedText(elapsed));
}

void FlashDownload::ShowProgress(int sectors_done) {
    const int64_t elapsed = hooks_.clock() - start_second_;
    const auto texts = ComputeProgressTexts(elapsed, sectors_done, sector_count_, file_length_);
    if (!texts)
        return;
    UserInterface& ui = master_.Ui();
    shown_elapsed_ = elapsed;
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

// What the first contact tells of the unit: nothing when it found nothing,
// for a unit left in its loader answers only where the loader listens.
UnitMode KnownFrom(const UnitContact& contact) {
    switch (contact.found) {
        case UnitFound::Application:
            return UnitMode::Application;
        case UnitFound::Loader:
            return UnitMode::InLoader;
        case UnitFound::Nothing:
            break;
    }
    return UnitMode::MaybeInLoader;
}

DownloadOutcome ContactAndDownload(ModbusMaster& master, const ImageBytes& image,
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
    if (hooks.stop != nullptr && hooks.stop->Raised())
        return interrupted(KnownFrom(contact));
    if (contact.found == UnitFound::Nothing) {
        Tell(master, download_messages::kUnableToCommunicate);
        return outcome;
    }
    master.Settings().Retry = kDownloadRetry;
    FlashDownload download(master, image, hooks);
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
        case UnitMode::Flashed:
            break;
    }
    return nullptr;
}

// What an interrupted run tells of the unit.
const char* UnitNote(UnitMode unit) {
    if (unit == UnitMode::Flashed)
        return download_messages::kWrittenAndResetting;
    const char* note = LeftInLoaderNote(unit);
    return note != nullptr ? note : download_messages::kNotSwitched;
}

}  // namespace

DownloadOutcome RunDownloadSession(ModbusMaster& master, const ImageBytes& image,
                                   const DownloadHooks& hooks,
                                   const std::function<void()>& link_up) {
    const KeptLinkState kept_link_state(master);
    DownloadOutcome outcome;
    // Every wait of every transaction of the run ends on a stop within its
    // slice, a retry series included, and asks nobody.
    const ModbusMaster::StopScope stoppable(master, hooks.stop);
    {
        KeptSettings kept(master.Settings());
        // Only the link: the contact that follows asks the unit, at its own
        // settings or at its loader's.
        (void)Connect(master, [](ModbusMaster&) { return true; });
        MarkDownloading(master);
        if (link_up)
            link_up();
        outcome = ContactAndDownload(master, image, hooks);
        ClosePort(master);
        Disconnect(master);
    }
    return outcome;
}

std::string DownloadFailureText(UnitMode unit) {
    std::string text = download_messages::kUnableToFinishDownload;
    if (const char* note = LeftInLoaderNote(unit))
        text += std::string("\n\n") + note;
    return text;
}

std::string InterruptionText(UnitMode unit) {
    return std::string(download_messages::kDownloadInterrupted) + " " + UnitNote(unit);
}

// Four modes, each said as a failure or as a stop.
const char* EndStatusText(const DownloadOutcome& outcome) {
    const bool stopped = outcome.result == DownloadResult::Interrupted;
    switch (outcome.unit) {
        case UnitMode::InLoader:
            return stopped ? download_messages::kStatusStoppedInDownloadMode
                           : download_messages::kStatusFailedInDownloadMode;
        case UnitMode::MaybeInLoader:
            return stopped ? download_messages::kStatusStoppedMaybeInDownloadMode
                           : download_messages::kStatusFailedMaybeInDownloadMode;
        case UnitMode::Flashed:
            if (stopped)
                return download_messages::kStatusStoppedResetting;
            break;
        case UnitMode::Application:
            if (stopped)
                return download_messages::kStatusStoppedNotSwitched;
            break;
    }
    return download_messages::kStatusDownloadFailed;
}

// What a run that did not complete says: the failure with the mode it
// left the unit in, or the stop and the state it left.
void TellDownloadOutcome(UserInterface& ui, const DownloadOutcome& outcome) {
    switch (outcome.result) {
        case DownloadResult::Completed:
            return;
        case DownloadResult::Failed:
            ui.ShowMessage({DownloadFailureText(outcome.unit), download_messages::kErrorCaption, MessageButtons::Ok,
                            MessageIcon::None});
            return;
        case DownloadResult::Interrupted:
            ui.ShowMessage(
                {InterruptionText(outcome.unit), "", MessageButtons::Ok, MessageIcon::None});
            return;
    }
}

}  // namespace fc
