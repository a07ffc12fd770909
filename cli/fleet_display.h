#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace fc {

// Lines kept in one place on a terminal: each Draw goes back up to the
// first line drawn before and writes every line again, so the block stays
// where it was first printed.
class InPlaceLines {
  public:
    void Draw(std::FILE* out, const std::vector<std::string>& lines);

  private:
    size_t drawn_ = 0;
};

// Where one unit of a fleet run stands.
enum class UnitPhase {
    Waiting,
    Connecting,
    DownloadMode,
    Sectors,
    Reset,
    Done,
    Skipped,
    Failed,
    Stopped
};

struct UnitState {
    UnitPhase phase = UnitPhase::Waiting;
    int sector = 0;  // the sector being written, from 1
    int sectors = 0;
    std::string rate;    // "N Bytes/Sec" once a second has passed
    std::string reason;  // of a failure
};

size_t TerminalWidth(std::FILE* out);

// "connecting", "sector 3 of 40", "failed: Flash write failed." ...
std::string PhaseText(const UnitState& state);

// The progress of every unit, shown as the run goes: on a terminal one line
// per unit redrawn in place; otherwise plain lines at each change of phase
// (and now and then while sectors go); with --json one JSON line per change.
// Units report from their own threads; one lock keeps the lines whole.
class FleetDisplay {
  public:
    enum class Mode { Terminal, Plain, Json };

    FleetDisplay(std::FILE* out, Mode mode, std::vector<std::string> names);
    void Report(size_t unit, const UnitState& state);

  private:
    void Redraw();
    void PrintPlain(size_t unit, bool phase_changed);
    void PrintJson(size_t unit);
    std::string Line(size_t unit, size_t width) const;

    std::mutex mutex_;
    std::FILE* out_;
    Mode mode_;
    std::vector<std::string> names_;
    std::vector<UnitState> states_;
    std::vector<std::chrono::steady_clock::time_point> last_plain_;
    size_t name_width_ = 0;
    std::chrono::steady_clock::time_point last_redraw_{};
    InPlaceLines lines_;
};

}  // namespace fc
