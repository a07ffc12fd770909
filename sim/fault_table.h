#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "sim/unit_model.h"

namespace fc::sim {

enum class FaultKind {
    NoReply,
    Delay,
    BadCheck,
    Exception,
    StrayByte,
    Split,
    Surplus,
    FlashFailed,
    FlashInvalidSector,
    FlashStuck,
    FlashUnexpected,
    DropConnection,
    ClosePty,
    Repeat,
    CloseAfter,
    Reboot,
};

// When a rule fires, counted over the requests it matches.
enum class TriggerKind { Once, Every, Rate };

// One row of the fault table: what to do, to which requests, how often.
struct FaultRule {
    FaultKind kind = FaultKind::NoReply;
    int param = 0;   // delay ms, exception code, stray byte, split chunk size, surplus bytes
    int param2 = 0;  // split: gap in ms
    TriggerKind trigger = TriggerKind::Once;
    int n = 1;  // once: the n-th matching request; every: each n-th
    double rate = 0;
    uint32_t seed = 1;
    std::optional<int> function;
    std::optional<int> address;  // the request's registers include it
    std::string text;            // as given, for the request log
};

// Parses "KIND[=P[:P2]][,once[=N]|,every=N|,rate=R][,seed=S][,fn=F][,addr=A]".
std::optional<FaultRule> ParseFault(const std::string& text, std::string* error);
// One line per kind, for --help and the control channel.
std::string FaultHelp();

// What the faults that fired do to one reply.
struct FaultPlan {
    bool no_reply = false;
    int delay_ms = 0;
    bool bad_check = false;
    std::optional<uint8_t> exception;
    std::optional<uint8_t> stray;
    int split_size = 0;
    int split_gap_ms = 0;
    int surplus = 0;
    FlashOutcome flash = FlashOutcome::Written;
    bool drop_connection = false;
    bool close_pty = false;
    std::optional<int> repeat_ms;
    bool close_after = false;
    std::optional<int> reboot_ms;
    std::vector<std::string> fired;
};

class FaultTable {
  public:
    void Add(const FaultRule& rule);
    void Clear() { rules_.clear(); }
    size_t Size() const { return rules_.size(); }
    FaultPlan Decide(const RequestInfo& request);

  private:
    struct Entry {
        FaultRule rule;
        int matched = 0;
        bool spent = false;
        std::mt19937 random;
    };
    static bool Matches(const FaultRule& rule, const RequestInfo& request);
    static bool Fires(Entry& entry);
    std::vector<Entry> rules_;
};

}  // namespace fc::sim
