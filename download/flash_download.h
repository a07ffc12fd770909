#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "connection/connection.h"
#include "download/download_progress.h"
#include "download/loader.h"
#include "download/image_file.h"
#include "modbus/comm_settings.h"
#include "platform/scoped_value.h"

namespace fc {

class ModbusMaster;
class StopRequest;
class UserInterface;

inline constexpr std::chrono::milliseconds kResetWait{5000};

// Attempts of each request during a run, which rides out the unit's resets:
// more than a user would want for a single read.
inline constexpr int kDownloadRetry = 10;

// What a run takes from its surroundings, replaceable where a test or a
// benchmark must not wait on the real thing.
struct DownloadHooks {
    // The wait for the unit's reset at the end of a run: a sleep that only
    // pumps the window, so nothing of it runs while the unit restarts. It
    // ends early, within a slice, once `stop` is raised.
    std::function<void(std::chrono::milliseconds)> wait;
    // Whole seconds of the wall clock, for the progress texts.
    std::function<int64_t()> clock;
    ReopenBound reopen;
    // Where the unit's application answers (the user's own settings), to
    // ask it when the request to leave download mode went unanswered: a
    // unit that took it has reset and answers there, not at the loader's.
    // None: the run does not look.
    std::optional<CommSettings> application;
    // Seen by every wait of the run, the transactions' included; once
    // raised, the run ends at the next slice without a failure message of
    // its own (the caller says what the stop left). None: the run cannot be
    // stopped.
    const StopRequest* stop = nullptr;
};

// Where a run has left the unit, as far as the run knows: running the
// application it had (never switched), perhaps in download mode (asked to
// enter or leave it without an answer, or never reached), in download mode,
// or written and taken out of download mode, resetting into the new image.
enum class UnitMode { Application, MaybeInLoader, InLoader, Flashed };

// One firmware download over the driver's present link: puts the unit into
// download mode, writes the image a sector at a time through the loader and
// takes the unit out of download mode again. Reports to the user only through
// the driver's user interface, so the window and a command line run it alike.
class FlashDownload {
  public:
    // `image` is what LoadImage read; the file is not looked at again.
    FlashDownload(ModbusMaster& master, ImageBytes image, DownloadHooks hooks = {});

    // True when every sector was written and the unit took the request to
    // leave download mode. Every early stop has shown its message already.
    // The link must be open and the unit must have answered a probe.
    bool RunDownload();
    // The same run for a unit found in its loader (at the live settings):
    // entering download mode is left out, the rest is as in RunDownload,
    // from the loader's speed change on.
    bool RecoverDownload(int loader_version);
    // True when the loader reported the sector written after one go at it
    // that no lost attempt disturbed; otherwise the failure's message has
    // been shown (a loader found restarted shows none: the run starts the
    // image again).
    bool WriteSector(std::span<const uint8_t, kSectorSize> data, uint16_t sector,
                     int loader_version);
    void PumpPaintMessages();

    UnitMode LeftUnitIn() const { return unit_mode_; }
    // True when the run ended on a stop request.
    bool Stopped() const { return stopped_; }

  private:
    // How the whole of a sector ended: written, failed with its message
    // shown, or on a loader that restarted since the run left it.
    enum class SectorEnd { Written, Failed, LoaderRestarted };
    // One request of a sector's exchange, in the order the loader takes them.
    struct SectorStep {
        enum Kind { StartOfImage, Block, Number, Commit, Poll } kind;
        int first = 0;  // Block: the first register of the buffer, and how many
        int count = 0;
        const char* failure = nullptr;
    };
    // How a stretch of steps ended: all done, stopped at a step that went
    // unanswered at least once (`at`, done or not), or failed with a message.
    struct StepsEnd {
        bool disturbed = false;
        size_t at = 0;
        bool done = false;
        const char* failure = nullptr;
    };
    // What the loader says it holds, read back after a disturbed step.
    enum class LoaderHolds { RunsState, Restarted, Unknown };

    SectorEnd WriteSectorWhole(std::span<const uint8_t, kSectorSize> data, uint16_t sector,
                               int loader_version);
    std::vector<SectorStep> SectorSteps(uint16_t sector, int loader_version) const;
    StepsEnd RunSteps(const std::vector<SectorStep>& steps, size_t from,
                      std::span<const uint8_t, kSectorSize> data, uint16_t sector);
    // Done (no failure), or the failure's message, and whether the unit
    // gave no answer (rather than a refusal or a status of its own).
    struct StepResult {
        const char* failure = nullptr;
        bool unanswered = false;
    };
    StepResult RunStep(const SectorStep& step, std::span<const uint8_t, kSectorSize> data,
                       uint16_t sector);
    StepResult AwaitFlashWriteQuietly();
    bool WriteSectorNumber(uint16_t sector, const std::function<bool()>& write);
    LoaderHolds ReadBackLoader(int loader_version);
    bool ReadQuietly(int address, int& value);
    bool FoundRestartedAtFirstSpeed(int loader_version);
    void ForgetLoaderState();
    bool FindApplication();
    bool ImageIsSound();
    bool EnterDownloadMode(int& loader_version);
    bool RunInLoader(int loader_version);
    // Between two requests: the window repaints, and a stop asked for since
    // the last request ends the run here.
    bool Continue();
    // Whether a stop has been asked for; from then on the run is a stopped one.
    bool StopAsked();
    bool SwitchLoaderSpeed(int baud_index);
    void ReestablishLink();
    bool Transfer(int loader_version);
    bool LeaveDownloadMode();
    void ShowProgress(int sectors_done);
    // Elapsed alone, as it goes on during the waits of a stalled sector.
    void ShowElapsed();
    bool Fail(const char* text);
    // The status line: the step the run is at, or for a while that the
    // unit leaves attempts unanswered.
    void SetStatus(const char* text);
    void NoteUnansweredAttempt(int failed, int attempts);

    ModbusMaster& master_;
    ImageBytes image_;
    DownloadHooks hooks_;
    int sector_count_ = 0;
    int64_t file_length_ = 0;
    int64_t start_second_ = 0;
    UnitMode unit_mode_ = UnitMode::Application;
    bool stopped_ = false;
    // What the run has left in the loader since the image was last started:
    // whether a flash write was taken, and the sector numbers the register
    // may hold (the last one the loader answered for, and one being written).
    bool committed_ = false;
    std::optional<uint16_t> sector_written_;
    std::optional<uint16_t> sector_tried_;
    int loader_version_ = 0;
    // Raised by the driver after an attempt that went unanswered.
    bool disturbed_ = false;
    int64_t shown_elapsed_ = 0;
    std::string status_;
    bool attempt_noted_ = false;
    ScopedValue<std::function<void(int, int)>> attempt_note_;
};

// Skipped: the unit already reads what the image makes it read, and was
// left alone.
enum class DownloadResult { Completed, Failed, Interrupted, Skipped };

struct DownloadOutcome {
    DownloadResult result = DownloadResult::Failed;
    UnitMode unit = UnitMode::Application;  // where the run left the unit
    bool recovered = false;                 // the unit was found in its loader
    int signal = 0;                         // what stopped an interrupted run
    std::optional<int> checked;             // what the register of a check read
};

// A holding register and the value it reads on a unit that runs the image
// (its firmware version, say).
struct RegisterCheck {
    int address = 0;
    int value = 0;
};

// What makes a download idempotent: a unit whose `unless` register already
// reads its value is not flashed ("already at VALUE"); after the reset wait
// the `expect` register must read its value, or the unit fails.
struct DownloadChecks {
    std::optional<RegisterCheck> unless;
    std::optional<RegisterCheck> expect;
};

// The run behind the Start Download button once the user has confirmed it,
// and behind the command line's download: Connect (its result shows in the
// contact that follows), LinkState 3 for the run (`link_up` runs then), the
// first contact, which finds a unit left in its loader as well
// ("Unable to communicate." when nothing answers), Retry 10, the download of
// `image`, ClosePort and Disconnect. Afterwards the user's own settings and
// link state are live again, whatever happened.
DownloadOutcome RunDownloadSession(ModbusMaster& master, const ImageBytes& image,
                                   const DownloadHooks& hooks,
                                   const std::function<void()>& link_up = {},
                                   const DownloadChecks& checks = {});

// "already at 22": what a skipped unit is reported with.
std::string AlreadyAtText(int value);

// "Unable to finish Download", with what the run left the unit in and the way
// back when that is download mode.
std::string DownloadFailureText(UnitMode unit);
// What an interrupted run says: the stop, and the state it left the unit in.
std::string InterruptionText(UnitMode unit);
// The window's status line after a run that did not complete: failed or
// stopped, and what it left the unit in.
const char* EndStatusText(const DownloadOutcome& outcome);

// What a download that did not complete says to the user, as a single
// download and each unit of a fleet say it.
void TellDownloadOutcome(UserInterface& ui, const DownloadOutcome& outcome);

}  // namespace fc
