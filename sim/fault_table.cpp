#include "sim/fault_table.h"

#include <cstdlib>
#include <sstream>

#include "platform/command_line.h"
#include "platform/whole_number.h"

namespace fc::sim {

namespace {

struct KindInfo {
    FaultKind kind;
    const char* name;
    int param;
    int param2;
    int max;     // largest P
    bool flash;  // applies to flash writes only
    const char* help;
};

// The fault vocabulary: every kind with its defaults, in one table that the
// parser, the matcher and the help text read.
constexpr KindInfo kKinds[] = {
    {FaultKind::NoReply, "no-reply", 0, 0, 0, false, "the request is taken but not answered"},
    {FaultKind::Delay, "delay", 2000, 0, 600000, false, "the reply goes out P ms late (2000)"},
    {FaultKind::BadCheck, "bad-crc", 0, 0, 0, false,
     "the reply's CRC (LRC in ASCII, last byte in Modbus TCP) is wrong"},
    {FaultKind::Exception, "exception", 4, 0, 255, false, "an exception reply with code P (4)"},
    {FaultKind::StrayByte, "stray", 0xFF, 0, 255, false, "byte P (255) in front of the reply"},
    {FaultKind::Split, "split", 3, 50, 600000, false,
     "the reply in chunks of P bytes (3), P2 ms apart (50)"},
    {FaultKind::Surplus, "surplus", 2, 0, 1024, false, "P (2) zero bytes behind the reply"},
    {FaultKind::FlashFailed, "flash-failed", 0, 0, 0, true, "a flash write ends with status 3"},
    {FaultKind::FlashInvalidSector, "flash-invalid", 0, 0, 0, true,
     "a flash write ends with status 4"},
    {FaultKind::FlashStuck, "flash-stuck", 0, 0, 0, true, "a flash write's status stays 1"},
    {FaultKind::FlashUnexpected, "flash-unexpected", 0, 0, 0, true,
     "a flash write ends with status 5"},
    {FaultKind::DropConnection, "drop-connection", 0, 0, 0, false,
     "TCP: the connection is closed instead of the reply"},
    {FaultKind::ClosePty, "close-pty", 0, 0, 0, false,
     "serial: the pty is closed instead of the reply (a new one follows)"},
    {FaultKind::Repeat, "repeat", 10, 0, 600000, false, "the reply goes out again P ms later (10)"},
    {FaultKind::CloseAfter, "close-after", 0, 0, 0, false,
     "TCP: the connection is closed right after the reply"},
    {FaultKind::Reboot, "reboot", 1000, 0, 600000, false,
     "the unit loses power instead of the request and comes back in its loader P ms later "
     "(1000), without the sector buffer and registers"},
};

const KindInfo* FindKind(const std::string& name) {
    for (const auto& info : kKinds) {
        if (name == info.name)
            return &info;
    }
    return nullptr;
}

const KindInfo& InfoOf(FaultKind kind) {
    for (const auto& info : kKinds) {
        if (info.kind == kind)
            return info;
    }
    return kKinds[0];
}

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::stringstream stream(text);
    std::string part;
    while (std::getline(stream, part, separator))
        parts.push_back(part);
    return parts;
}

bool ParseKind(const std::string& token, FaultRule& rule, std::string* error) {
    const size_t eq = token.find('=');
    const KindInfo* info = FindKind(token.substr(0, eq));
    if (info == nullptr) {
        *error = "unknown fault kind '" + token.substr(0, eq) + "'";
        return false;
    }
    rule.kind = info->kind;
    rule.param = info->param;
    rule.param2 = info->param2;
    if (eq == std::string::npos)
        return true;
    const auto params = Split(token.substr(eq + 1), ':');
    if (params.empty() || params.size() > 2 ||
        !ParseWholeNumber(params[0], 0, info->max, &rule.param) ||
        (params.size() == 2 && !ParseWholeNumber(params[1], 0, 600000, &rule.param2))) {
        *error = "bad parameter in '" + token + "'";
        return false;
    }
    return true;
}

bool ParseOption(const std::string& token, FaultRule& rule) {
    const size_t eq = token.find('=');
    const std::string key = token.substr(0, eq);
    const std::string value = eq == std::string::npos ? "" : token.substr(eq + 1);
    int number = 0;
    if (key == "once") {
        rule.trigger = TriggerKind::Once;
        return value.empty() || (ParseWholeNumber(value, 1, 1 << 30, &rule.n));
    }
    if (key == "every") {
        rule.trigger = TriggerKind::Every;
        return ParseWholeNumber(value, 1, 1 << 30, &rule.n);
    }
    if (key == "rate") {
        char* end = nullptr;
        rule.trigger = TriggerKind::Rate;
        rule.rate = std::strtod(value.c_str(), &end);
        return !value.empty() && *end == '\0' && rule.rate >= 0 && rule.rate <= 1;
    }
    if (key == "seed" && ParseWholeNumber(value, 0, 0x7FFFFFFF, &number)) {
        rule.seed = static_cast<uint32_t>(number);
        return true;
    }
    if (key == "fn" && ParseWholeNumber(value, 0, 255, &number)) {
        rule.function = number;
        return true;
    }
    if (key == "addr" && ParseWholeNumber(value, 0, 65535, &number)) {
        rule.address = number;
        return true;
    }
    return false;
}

}  // namespace

std::optional<FaultRule> ParseFault(const std::string& text, std::string* error) {
    const auto tokens = Split(text, ',');
    FaultRule rule;
    rule.text = text;
    if (tokens.empty() || !ParseKind(tokens[0], rule, error))
        return std::nullopt;
    for (size_t i = 1; i < tokens.size(); ++i) {
        if (!ParseOption(tokens[i], rule)) {
            *error = "bad fault option '" + tokens[i] + "'";
            return std::nullopt;
        }
    }
    return rule;
}

std::string FaultHelp() {
    // Past the longest kind name, so that no help runs into its name.
    constexpr size_t kHelpColumn = 24;
    std::string help;
    for (const auto& info : kKinds)
        help += HelpRow(std::string("  ") + info.name, info.help, kHelpColumn);
    return help;
}

void FaultTable::Add(const FaultRule& rule) {
    rules_.push_back({rule, 0, false, std::mt19937(rule.seed)});
}

bool FaultTable::Matches(const FaultRule& rule, const RequestInfo& request) {
    if (InfoOf(rule.kind).flash && !request.flash_commit)
        return false;
    if (rule.function && *rule.function != request.function)
        return false;
    if (rule.address) {
        const int first = request.address;
        const int count = request.function == 3 || request.function == 16 ? request.count : 0;
        if (*rule.address < first || *rule.address >= first + count)
            return false;
    }
    return true;
}

bool FaultTable::Fires(Entry& entry) {
    ++entry.matched;
    switch (entry.rule.trigger) {
        case TriggerKind::Once:
            if (entry.spent || entry.matched != entry.rule.n)
                return false;
            entry.spent = true;
            return true;
        case TriggerKind::Every:
            return entry.matched % entry.rule.n == 0;
        case TriggerKind::Rate:
        default:
            return std::uniform_real_distribution<double>(0.0, 1.0)(entry.random) < entry.rule.rate;
    }
}

FaultPlan FaultTable::Decide(const RequestInfo& request) {
    FaultPlan plan;
    for (auto& entry : rules_) {
        if (!Matches(entry.rule, request) || !Fires(entry))
            continue;
        const FaultRule& rule = entry.rule;
        plan.fired.push_back(rule.text);
        switch (rule.kind) {
            case FaultKind::NoReply:
                plan.no_reply = true;
                break;
            case FaultKind::Delay:
                plan.delay_ms += rule.param;
                break;
            case FaultKind::BadCheck:
                plan.bad_check = true;
                break;
            case FaultKind::Exception:
                plan.exception = static_cast<uint8_t>(rule.param);
                break;
            case FaultKind::StrayByte:
                plan.stray = static_cast<uint8_t>(rule.param);
                break;
            case FaultKind::Split:
                plan.split_size = rule.param > 0 ? rule.param : 1;
                plan.split_gap_ms = rule.param2;
                break;
            case FaultKind::Surplus:
                plan.surplus = rule.param;
                break;
            case FaultKind::FlashFailed:
                plan.flash = FlashOutcome::Failed;
                break;
            case FaultKind::FlashInvalidSector:
                plan.flash = FlashOutcome::InvalidSector;
                break;
            case FaultKind::FlashStuck:
                plan.flash = FlashOutcome::StuckBusy;
                break;
            case FaultKind::FlashUnexpected:
                plan.flash = FlashOutcome::Unexpected;
                break;
            case FaultKind::DropConnection:
                plan.drop_connection = true;
                break;
            case FaultKind::ClosePty:
                plan.close_pty = true;
                break;
            case FaultKind::Repeat:
                plan.repeat_ms = rule.param;
                break;
            case FaultKind::CloseAfter:
                plan.close_after = true;
                break;
            case FaultKind::Reboot:
                plan.reboot_ms = rule.param;
                break;
        }
    }
    return plan;
}

}  // namespace fc::sim
