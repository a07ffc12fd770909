#include "download/flash_download.h"

#include <algorithm>
#include <cstdio>

#include "download/image_file.h"
#include "download/messages.h"
#include "download/unit_contact.h"
#include "modbus/comm_settings.h"
#include "modbus/modbus_master.h"
#include "platform/scoped_value.h"
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
// Goes at one sector, and images begun, before the run gives up on a unit
// that keeps losing its answers or its power.
constexpr int kMaxSectorDisturbances = 32;
constexpr int kMaxImageStarts = 4;

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

// The bytes judged before the unit was touched, and no others. A loader
// found restarted is given the image from its first sector again: what it
// wrote before its restart is in flash, but the loader begins an image only
// on its start.
bool FlashDownload::Transfer(int loader_version) {
    file_length_ = static_cast<int64_t>(image_->size());
    sector_count_ = static_cast<int>(file_length_ / kSectorSize);
    master_.Ui().SetProgressRange(0, sector_count_);
    start_second_ = hooks_.clock();
    // A unit that leaves requests unanswered stalls the sectors, not the clock.
    const PumpTask ticking(master_.Ui(), [this] { ShowElapsed(); });
    ForgetLoaderState();
    int starts = 1;
    for (int sector = 0; sector < sector_count_;) {
        if (!Continue())
            return false;
        master_.Ui().SetProgressPosition(sector);
        const std::span<const uint8_t, kSectorSize> data(
            image_->data() + static_cast<size_t>(sector) * kSectorSize, kSectorSize);
        const SectorEnd end =
            WriteSectorWhole(data, static_cast<uint16_t>(sector), loader_version);
        ShowProgress(sector);
        if (end == SectorEnd::Failed)
            return false;
        if (end == SectorEnd::Written) {
            ++sector;
            continue;
        }
        if (++starts > kMaxImageStarts)
            return Fail(m::kLoaderKeepsRestarting);
        master_.Ui().SetStatusText(m::kLoaderRestarted);
        ForgetLoaderState();
        sector = 0;
        if (loader_version == kLoaderVersion2 && !SwitchLoaderSpeed(kLoaderFastBaudIndex))
            return false;
    }
    return true;
}

// Only the unit's answer tells that it took the request: a refusal leaves it
// in its loader, a lost reply leaves it in one of the two modes.
bool FlashDownload::LeaveDownloadMode() {
    if (!Continue())
        return false;
    bool left = master_.WriteRegister16(kLoaderVersionRegister, kLeaveDownloadMode) != 0;
    const bool refused = !left && master_.ExceptionCode != 0;
    // Unanswered: the unit may have taken it and reset (its reply lost),
    // and then its application answers at its own settings; or the request
    // was lost, and the loader takes it again.
    bool answered_as_application = false;
    if (!left && !refused && !StopAsked()) {
        answered_as_application = FindApplication();
        left = answered_as_application ||
               master_.WriteRegister16(kLoaderVersionRegister, kLeaveDownloadMode) != 0;
    }
    if (!left) {
        unit_mode_ = refused || master_.ExceptionCode != 0 ? UnitMode::InLoader
                                                           : UnitMode::MaybeInLoader;
        return Fail(m::kUnableToExitDownloadMode);
    }
    unit_mode_ = UnitMode::Flashed;
    SetStatus(m::kBeingReset);
    if (!answered_as_application)
        hooks_.wait(kResetWait);
    SetStatus("");
    if (StopAsked())
        return false;
    master_.Ui().ShowMessage({m::kDownloadCompleted, "", MessageButtons::Ok, MessageIcon::None});
    return true;
}

// Goes at one sector as a whole; a go that a lost attempt disturbed is not
// trusted, for the unit may have lost power and come back in its loader
// meanwhile, with the buffer written so far gone and the sector register
// cleared: the retries would fill in the rest and commit a sector with holes,
// or commit it to sector 0. So after a disturbance the run reads back what
// the loader holds. A loader that no longer holds what the run left has
// restarted: the image starts again. Otherwise the sector is written again
// whole. Within that second go, a disturbance after which the loader is seen
// to hold the run's state (a restart would have cleared the status of the
// last flash write) goes on from where it was; one that cannot be told so
// (before the first flash write of the image, or on the request that writes
// the sector number, which a restarted loader would take as the run left
// it) means the whole sector once more.
FlashDownload::SectorEnd FlashDownload::WriteSectorWhole(
    std::span<const uint8_t, kSectorSize> data, uint16_t sector, int loader_version) {
    loader_version_ = loader_version;
    const ScopedValue<std::function<void(int, int)>> watch(
        master_.OnAttemptFailed,
        [this, told = master_.OnAttemptFailed](int failed, int attempts) {
            disturbed_ = true;
            if (told)
                told(failed, attempts);
        });
    const std::vector<SectorStep> steps = SectorSteps(sector, loader_version);
    size_t from = 0;
    bool whole_again = false;
    for (int disturbances = 0;; ++disturbances) {
        const StepsEnd end = RunSteps(steps, from, data, sector);
        if (StopAsked())
            return SectorEnd::Failed;
        if (!end.disturbed) {
            if (end.failure != nullptr) {
                Fail(end.failure);
                return SectorEnd::Failed;
            }
            return SectorEnd::Written;
        }
        const char* failure = steps[end.at].failure;
        if (disturbances >= kMaxSectorDisturbances) {
            Fail(failure);
            return SectorEnd::Failed;
        }
        switch (ReadBackLoader(loader_version)) {
            case LoaderHolds::Unknown:
                Fail(failure);
                return SectorEnd::Failed;
            case LoaderHolds::Restarted:
                return SectorEnd::LoaderRestarted;
            case LoaderHolds::RunsState:
                break;
        }
        const bool provable = committed_ && steps[end.at].kind != SectorStep::Commit &&
                              steps[end.at].kind != SectorStep::Number;
        if (whole_again && provable) {
            from = end.done ? end.at + 1 : end.at;
        } else {
            from = 0;
            whole_again = true;
        }
    }
}

// Asks at the application's settings whether the unit runs it (register
// 2649 reads 0 there); the loader's settings are live again afterwards.
bool FlashDownload::FindApplication() {
    if (!hooks_.application)
        return false;
    const CommSettings loader = master_.Settings();
    int version = -1;
    const bool found = ReopenAt(master_, *hooks_.application) &&
                       ReadQuietly(kLoaderVersionRegister, version) && version == 0;
    if (!found)
        ReopenAt(master_, loader);
    return found;
}

bool FlashDownload::WriteSector(std::span<const uint8_t, kSectorSize> data, uint16_t sector,
                                int loader_version) {
    return WriteSectorWhole(data, sector, loader_version) == SectorEnd::Written;
}

// The requests of one sector, as the loader expects them: the start of the
// image before the first sector only (the loader starts a new image on it),
// the buffer in blocks (version 2 takes bigger ones at its higher speed),
// the sector number and the flash write (in one request for version 2), and
// the status polls.
std::vector<FlashDownload::SectorStep> FlashDownload::SectorSteps(uint16_t sector,
                                                                  int loader_version) const {
    const bool version2 = loader_version == kLoaderVersion2;
    std::vector<SectorStep> steps;
    if (sector == 0)
        steps.push_back({SectorStep::StartOfImage, 0, 0, m::kErrorWritingSectorData});
    const int block = version2 ? kVersion2Block : kVersion1Block;
    for (int first = 0; first < kSectorRegisters; first += block)
        steps.push_back({SectorStep::Block, first, std::min(block, kSectorRegisters - first),
                         m::kErrorWritingSectorData});
    if (version2) {
        steps.push_back({SectorStep::Commit, 0, 0, m::kErrorWritingSectorNumber});
    } else {
        steps.push_back({SectorStep::Number, 0, 0, m::kErrorWritingSectorNumber});
        steps.push_back({SectorStep::Commit, 0, 0, m::kErrorRequestingFlashWrite});
    }
    steps.push_back({SectorStep::Poll, 0, 0, m::kErrorWaitingForFlashWrite});
    return steps;
}

FlashDownload::StepsEnd FlashDownload::RunSteps(const std::vector<SectorStep>& steps,
                                                size_t from,
                                                std::span<const uint8_t, kSectorSize> data,
                                                uint16_t sector) {
    for (size_t at = from; at < steps.size(); ++at) {
        if (!Continue())
            return {false, at, false, nullptr};
        disturbed_ = false;
        const StepResult result = RunStep(steps[at], data, sector);
        // A request that got no answer at all is a disturbance as well; one
        // the loader refused, or a status it reported, is its last word.
        const bool done = result.failure == nullptr;
        disturbed_ = disturbed_ || (result.unanswered && !StopAsked());
        if (disturbed_)
            return {true, at, done, done ? steps[at].failure : result.failure};
        if (!done)
            return {false, at, false, result.failure};
    }
    return {};
}

FlashDownload::StepResult FlashDownload::RunStep(const SectorStep& step,
                                                std::span<const uint8_t, kSectorSize> data,
                                                uint16_t sector) {
    bool answered = false;
    switch (step.kind) {
        case SectorStep::StartOfImage:
            // Its result is not looked at: the data requests that follow find out.
            master_.WriteRegister16(kFlashCommandRegister, kStartOfImage);
            return {};
        case SectorStep::Block:
            answered = master_.WriteRegisterBlock(kSectorBufferRegister + step.first,
                                                  data.data() + 2 * step.first, step.count) != 0;
            break;
        case SectorStep::Number:
            answered = WriteSectorNumber(sector, [&] {
                return master_.WriteRegister16(kSectorNumberRegister, sector) != 0;
            });
            break;
        case SectorStep::Commit:
            if (loader_version_ == kLoaderVersion2) {
                answered = WriteSectorNumber(sector, [&] {
                    return master_.WriteRegister32(kFlashCommandRegister,
                                                   (kFlashWrite << 16) + sector) != 0;
                });
            } else {
                answered = master_.WriteRegister16(kFlashCommandRegister, kFlashWrite) != 0;
            }
            committed_ = committed_ || answered;
            break;
        case SectorStep::Poll:
            return AwaitFlashWriteQuietly();
    }
    if (answered)
        return {};
    return {step.failure, !master_.EndedByException};
}

// The sector register holds what the loader answered for; while a write of
// it goes unanswered, it may hold the new number as well.
bool FlashDownload::WriteSectorNumber(uint16_t sector, const std::function<bool()>& write) {
    sector_tried_ = sector;
    if (!write())
        return false;
    sector_written_ = sector;
    sector_tried_.reset();
    return true;
}

// Back-to-back status reads: the flash write of a sector is quick, and a
// loader still busy after five reads is taken as hung.
FlashDownload::StepResult FlashDownload::AwaitFlashWriteQuietly() {
    int status = kFlashBusy;
    for (int polls = 0; status == kFlashBusy && polls < kMaxStatusPolls; ++polls) {
        if (!Continue())
            return {m::kErrorWaitingForFlashWrite, false};
        if (!master_.ReadRegister16(kFlashCommandRegister, status))
            return {m::kErrorWaitingForFlashWrite, !master_.EndedByException};
    }
    switch (status) {
        case kFlashWritten:
            return {};
        case kFlashBusy:
            return {m::kFlashWriteTimedOut};
        case kFlashFailed:
            return {m::kFlashWriteFailed};
        case kFlashInvalidSector:
            return {m::kInvalidSector};
        default:
            return {m::kUnexpectedFlashResponse};
    }
}

// As many attempts as the run's Retry gives, none of them asking: a
// read-back asks nobody, the failure it ends in is the sector's.
bool FlashDownload::ReadQuietly(int address, int& value) {
    const int attempts = std::max<int>(master_.Settings().Retry, 0) + 1;
    return QuietReadRegister(master_, address, attempts, value, hooks_.stop) && !StopAsked();
}

// The status, the sector register and the version, as far as the protocol
// lets them be read. A restarted loader shows no flash write (its status
// is that of a loader that has written nothing) and a cleared sector
// register; a version-2 loader on a serial line is back at its first speed.
FlashDownload::LoaderHolds FlashDownload::ReadBackLoader(int loader_version) {
    int status = 0;
    int sector = 0;
    int version = 0;
    if (!ReadQuietly(kFlashCommandRegister, status) ||
        !ReadQuietly(kSectorNumberRegister, sector) ||
        !ReadQuietly(kLoaderVersionRegister, version)) {
        return FoundRestartedAtFirstSpeed(loader_version) ? LoaderHolds::Restarted
                                                          : LoaderHolds::Unknown;
    }
    if (version != loader_version)
        return LoaderHolds::Unknown;
    const bool status_kept = !committed_ || status == kFlashBusy || status == kFlashWritten ||
                             status == kFlashFailed || status == kFlashInvalidSector;
    const bool sector_kept = (!sector_written_ && !sector_tried_) || sector == sector_written_ ||
                             sector == sector_tried_;
    return status_kept && sector_kept ? LoaderHolds::RunsState : LoaderHolds::Restarted;
}

// Version 2 past its speed change, silent at that speed: a loader that
// answers at the speed every loader starts at has restarted.
bool FlashDownload::FoundRestartedAtFirstSpeed(int loader_version) {
    CommSettings first = master_.Settings();
    if (loader_version != kLoaderVersion2 || first.UseIP || first.BaudRate == kLoaderSlowBaudIndex)
        return false;
    first.BaudRate = kLoaderSlowBaudIndex;
    int version = 0;
    if (ReopenAt(master_, first) && ReadQuietly(kLoaderVersionRegister, version) &&
        version == loader_version)
        return true;
    return false;
}

void FlashDownload::ForgetLoaderState() {
    committed_ = false;
    sector_written_.reset();
    sector_tried_.reset();
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

template <typename... Numbers>
std::string Formatted(const char* format, Numbers... numbers) {
    char text[160];
    std::snprintf(text, sizeof text, format, numbers...);
    return text;
}

// A check's register at the application's settings, with the attempts of
// the run: after a reset the unit may take a while to answer.
std::optional<int> ReadCheck(ModbusMaster& master, const RegisterCheck& check,
                             const StopRequest* stop) {
    int value = 0;
    const int attempts = std::max<int>(master.Settings().Retry, 0) + 1;
    if (!QuietReadRegister(master, check.address, attempts, value, stop))
        return std::nullopt;
    return value;
}

// After the reset: the application, at the user's settings, must show what
// the image makes it show.
void VerifyFlashed(ModbusMaster& master, const CommSettings& application,
                   const RegisterCheck& expect, const StopRequest* stop,
                   DownloadOutcome& outcome) {
    const bool reopened = ReopenAt(master, application);
    outcome.checked = reopened ? ReadCheck(master, expect, stop) : std::nullopt;
    if (stop != nullptr && stop->Raised())
        return;
    if (outcome.checked == expect.value)
        return;
    outcome.result = DownloadResult::Failed;
    Tell(master, outcome.checked
                     ? Formatted(download_messages::kExpectDiffers, expect.address,
                                 *outcome.checked, expect.value).c_str()
                     : Formatted(download_messages::kExpectUnread, expect.address).c_str());
}

DownloadOutcome ContactAndDownload(ModbusMaster& master, const ImageBytes& image,
                                   DownloadHooks hooks, const DownloadChecks& checks) {
    DownloadOutcome outcome;
    const auto interrupted = [&](UnitMode unit) {
        outcome.result = DownloadResult::Interrupted;
        outcome.unit = unit;
        outcome.signal = hooks.stop->Signal();
        return outcome;
    };
    const auto stopped = [&] { return hooks.stop != nullptr && hooks.stop->Raised(); };
    CommSettings application = master.Settings();
    // The first contact runs at the user's Retry: it is one read, and the
    // loader search must not wait behind a series meant for the resets.
    const UnitContact contact = ContactUnit(master, hooks.stop);
    outcome.recovered = contact.found == UnitFound::Loader;
    if (stopped())
        return interrupted(KnownFrom(contact));
    if (contact.found == UnitFound::Nothing) {
        Tell(master, download_messages::kUnableToCommunicate);
        return outcome;
    }
    // A unit in its loader runs no image at all: it is flashed whatever.
    if (checks.unless && contact.found == UnitFound::Application) {
        outcome.checked = ReadCheck(master, *checks.unless, hooks.stop);
        if (stopped())
            return interrupted(UnitMode::Application);
        if (!outcome.checked) {
            Tell(master, Formatted(download_messages::kCheckUnread, checks.unless->address).c_str());
            return outcome;
        }
        if (*outcome.checked == checks.unless->value) {
            outcome.result = DownloadResult::Skipped;
            return outcome;
        }
    }
    master.Settings().Retry = kDownloadRetry;
    application.Retry = kDownloadRetry;
    hooks.application = application;
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
    if (completed && checks.expect) {
        VerifyFlashed(master, application, *checks.expect, hooks.stop, outcome);
        if (stopped())
            return interrupted(UnitMode::Flashed);
    }
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
                                   const std::function<void()>& link_up,
                                   const DownloadChecks& checks) {
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
        outcome = ContactAndDownload(master, image, hooks, checks);
        ClosePort(master);
        Disconnect(master);
    }
    return outcome;
}

std::string AlreadyAtText(int value) {
    return Formatted(download_messages::kAlreadyAt, value);
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
        case DownloadResult::Skipped:
            ui.ShowMessage({AlreadyAtText(outcome.checked.value_or(0)), "", MessageButtons::Ok,
                            MessageIcon::Information});
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
