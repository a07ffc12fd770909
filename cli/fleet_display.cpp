#include "cli/fleet_display.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cstdint>

#include "cli/json_writer.h"

namespace fc {

namespace {

// A log is read later: a line every few seconds per unit tells enough.
constexpr std::chrono::seconds kPlainSectorInterval{5};
// Redrawing faster than the eye reads costs the units' threads the lock.
constexpr std::chrono::milliseconds kRedrawInterval{100};

const char* PhaseWord(UnitPhase phase) {
    switch (phase) {
        case UnitPhase::Waiting:
            return "waiting";
        case UnitPhase::Connecting:
            return "connecting";
        case UnitPhase::DownloadMode:
            return "download mode";
        case UnitPhase::Sectors:
            return "sector";
        case UnitPhase::Reset:
            return "reset";
        case UnitPhase::Done:
            return "done";
        case UnitPhase::Skipped:
            return "skipped";
        case UnitPhase::Failed:
            return "failed";
        case UnitPhase::Stopped:
            return "stopped";
    }
    return "";
}

}  // namespace

std::string PhaseText(const UnitState& state) {
    std::string text = PhaseWord(state.phase);
    if (state.phase == UnitPhase::Sectors)
        text += " " + std::to_string(state.sector) + " of " + std::to_string(state.sectors);
    // One line per unit: a reason of several lines shows its first.
    if (!state.reason.empty())
        text += ": " + state.reason.substr(0, state.reason.find('\n'));
    return text;
}

FleetDisplay::FleetDisplay(std::FILE* out, Mode mode, std::vector<std::string> names)
    : out_(out),
      mode_(mode),
      names_(std::move(names)),
      states_(names_.size()),
      last_plain_(names_.size()) {
    for (const std::string& name : names_)
        name_width_ = std::max(name_width_, name.size());
}

void FleetDisplay::Report(size_t unit, const UnitState& state) {
    const std::lock_guard lock(mutex_);
    const bool phase_changed = states_[unit].phase != state.phase;
    const bool sector_changed = states_[unit].sector != state.sector;
    states_[unit] = state;
    switch (mode_) {
        case Mode::Terminal:
            if (phase_changed || std::chrono::steady_clock::now() - last_redraw_ >= kRedrawInterval)
                Redraw();
            break;
        case Mode::Plain:
            PrintPlain(unit, phase_changed);
            break;
        case Mode::Json:
            if (phase_changed || sector_changed)
                PrintJson(unit);
            break;
    }
    std::fflush(out_);
}

// Columns of the terminal `out` is, asked at each draw (it may have been
// resized); 0 when it is no terminal.
size_t TerminalWidth(std::FILE* out) {
    winsize size{};
    return ::ioctl(::fileno(out), TIOCGWINSZ, &size) == 0 && size.ws_col > 1 ? size.ws_col : 0;
}

// A line that does not fit gives up the end of its state text before any
// digit of the rate: a rate cut to "1" would read as a false figure.
std::string FleetDisplay::Line(size_t unit, size_t width) const {
    const UnitState& state = states_[unit];
    std::string line = names_[unit];
    line.resize(name_width_ + 2, ' ');
    std::string phase = PhaseText(state);
    const std::string rate =
        !state.rate.empty() && state.phase == UnitPhase::Sectors ? "  " + state.rate : "";
    const size_t room = width > 0 ? width - 1 : SIZE_MAX;  // one column spare, as Draw keeps
    if (line.size() + phase.size() + rate.size() > room && line.size() + rate.size() < room)
        phase.resize(room - line.size() - rate.size());
    return line + phase + rate;
}

// A line is cut to the terminal's width, asked at each draw (it may have
// been resized): one that wrapped would take two rows, and going back up
// by one row a line would land too low.
void InPlaceLines::Draw(std::FILE* out, const std::vector<std::string>& lines) {
    const size_t width = TerminalWidth(out);
    if (drawn_ > 0)
        std::fprintf(out, "\x1b[%zuA", drawn_);
    for (std::string line : lines) {
        // One column spare: some terminals wrap on the last one already. A
        // character of several bytes is not cut in two.
        if (width > 0 && line.size() >= width) {
            size_t cut = width - 1u;
            while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xC0) == 0x80)
                --cut;
            line.resize(cut);
        }
        std::fprintf(out, "\r\x1b[2K%s\n", line.c_str());
    }
    drawn_ = lines.size();
}

// The whole block again, whatever order the units report in.
void FleetDisplay::Redraw() {
    std::vector<std::string> lines;
    for (size_t unit = 0; unit < names_.size(); ++unit)
        lines.push_back(Line(unit, TerminalWidth(out_)));
    lines_.Draw(out_, lines);
    last_redraw_ = std::chrono::steady_clock::now();
}

void FleetDisplay::PrintPlain(size_t unit, bool phase_changed) {
    const auto now = std::chrono::steady_clock::now();
    if (!phase_changed && now - last_plain_[unit] < kPlainSectorInterval)
        return;
    last_plain_[unit] = now;
    std::fprintf(out_, "%s\n", Line(unit, 0).c_str());
}

void FleetDisplay::PrintJson(size_t unit) {
    const UnitState& state = states_[unit];
    JsonObject line;
    line.Add("unit", names_[unit]);
    line.Add("state", PhaseWord(state.phase));
    if (state.phase == UnitPhase::Sectors) {
        line.Add("sector", state.sector);
        line.Add("sectors", state.sectors);
        if (!state.rate.empty())
            line.Add("rate", state.rate);
    }
    if (!state.reason.empty())
        line.Add("reason", state.reason);
    std::fprintf(out_, "%s\n", line.Text().c_str());
}

}  // namespace fc
