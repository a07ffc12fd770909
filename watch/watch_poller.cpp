#include "watch/watch_poller.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "connection/connection.h"
#include "modbus/modbus_master.h"
#include "platform/field_text.h"
#include "registers/register_operations.h"
#include "watch/watch_messages.h"

namespace fc {

namespace {

// The settings' unit address, or the driver's attempt notice, for the span
// of one block read, and back as they were however the read ends.
template <typename Value>
class Lent {
  public:
    Lent(Value& place, Value value) : place_(place), kept_(std::move(place)) {
        place_ = std::move(value);
    }
    ~Lent() { place_ = std::move(kept_); }
    Lent(const Lent&) = delete;
    Lent& operator=(const Lent&) = delete;

  private:
    Value& place_;
    Value kept_;
};

std::string Fixed(double value, int decimals) {
    char buffer[512];  // fixed notation of the largest double has 316 characters
    const auto result =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    return std::string(buffer, result.ptr);
}

// The decimals a number needs to show itself, up to 6: 0.25 needs 2.
int DecimalsOf(double number) {
    for (int decimals = 0; decimals < 6; ++decimals) {
        const double scaled = number * std::pow(10.0, decimals);
        if (std::abs(scaled - std::round(scaled)) < 1e-9 * std::max(1.0, std::abs(scaled)))
            return decimals;
    }
    return 6;
}

int Decimals(const PolledRow& row) {
    if (row.Type == RegisterType::Float)
        return 6;
    if (row.Form.Show == WatchShow::Hex || row.Form.Show == WatchShow::Bits)
        return 0;
    return std::max(DecimalsOf(row.Form.Scale), DecimalsOf(row.Form.Offset));
}

int BitCount(const PolledRow& row) {
    return row.Type == RegisterType::Int32 ? 32 : 16;
}

std::string HexText(const PolledRow& row, uint32_t bits) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string text = "0x";
    for (int shift = BitCount(row) - 4; shift >= 0; shift -= 4)
        text += kDigits[bits >> shift & 0xf];
    return text;
}

std::string BitsText(const PolledRow& row, uint32_t bits) {
    std::string text;
    std::string set;
    for (int bit = BitCount(row) - 1; bit >= 0; --bit) {
        text += (bits >> bit & 1) ? '1' : '0';
        if (bit > 0 && bit % 4 == 0)
            text += ' ';
    }
    for (int bit = 0; bit < BitCount(row); ++bit) {
        if (!(bits >> bit & 1))
            continue;
        const auto index = static_cast<size_t>(bit);
        const bool named = index < row.Form.BitNames.size() && !row.Form.BitNames[index].empty();
        set += (set.empty() ? "" : ", ") +
               (named ? row.Form.BitNames[index] : "bit " + std::to_string(bit));
    }
    return set.empty() ? text : text + " = " + set;
}

}  // namespace

std::string ReadingText(const PolledRow& row, const RowReading& reading) {
    if (!reading.Ok)
        return {};
    const auto bits = static_cast<uint32_t>(static_cast<int64_t>(reading.Value));
    if (row.Type != RegisterType::Float && row.Form.Show == WatchShow::Hex)
        return HexText(row, bits);
    if (row.Type != RegisterType::Float && row.Form.Show == WatchShow::Bits)
        return BitsText(row, bits);
    return Fixed(reading.Value, Decimals(row));
}

std::string ShownText(const PolledRow& row, const RowReading& reading) {
    const std::string text = ReadingText(row, reading);
    const bool numeric = row.Type == RegisterType::Float ||
                         (row.Form.Show != WatchShow::Hex && row.Form.Show != WatchShow::Bits);
    return text.empty() || !numeric || row.Form.Unit.empty() ? text
                                                             : text + " " + row.Form.Unit;
}

std::string MeanText(const PolledRow& row, double mean) {
    return Fixed(mean, std::min(Decimals(row) + 2, 6));
}

std::optional<RegisterValue> RowValueFromText(const PolledRow& row, std::string_view text,
                                              std::string& prompt) {
    const RowForm& form = row.Form;
    const bool scaled = form.Scale != 1 || form.Offset != 0;
    const std::optional<double> typed = ParseNumberField(text);
    if (!typed) {
        prompt = field_messages::kEnterNumber;
        return std::nullopt;
    }
    const double raw = (*typed - form.Offset) / form.Scale;
    if (row.Type == RegisterType::Float) {
        // Beyond a float the register would hold infinity.
        if (std::abs(raw) <= std::numeric_limits<float>::max())
            return RegisterValue{raw, 0};
        prompt = field_messages::kEnterNumber;
        return std::nullopt;
    }
    const bool wide = row.Type == RegisterType::Int32;
    const bool negative = form.Show == WatchShow::Signed || (wide && form.Show == WatchShow::Plain);
    const double lowest = negative ? (wide ? -2147483648.0 : -32768.0) : 0;
    const double highest = (wide ? 4294967296.0 : 65536.0) / (negative ? 2 : 1) - 1;
    const double whole = scaled ? std::round(raw) : std::trunc(raw);
    if (whole < lowest || whole > highest) {
        const double a = lowest * form.Scale + form.Offset;
        const double b = highest * form.Scale + form.Offset;
        prompt = std::string(watch_messages::kOutOfRange);
        prompt.replace(prompt.find("%1"), 2, Fixed(std::min(a, b), Decimals(row)));
        prompt.replace(prompt.find("%2"), 2, Fixed(std::max(a, b), Decimals(row)));
        return std::nullopt;
    }
    return RegisterValue{0, static_cast<long long>(whole)};
}

bool WriteRow(ModbusMaster& master, const PolledRow& row, const RegisterValue& value) {
    CommSettings& settings = master.Settings();
    const Lent unit(settings.UnitId,
                    static_cast<int16_t>(row.UnitId != 0 ? row.UnitId : settings.UnitId));
    const FloatLayout layout{BlockRegisterWidth(row.Address) == 2, row.LowWordFirst};
    return WriteValue(master, row.Address, row.Type, value, layout).Success;
}

void RowStatistics::Add(const RowReading& reading, std::chrono::system_clock::time_point time) {
    if (!reading.Ok) {
        ++Failed;
        return;
    }
    Minimum = Good == 0 ? reading.Value : std::min(Minimum, reading.Value);
    Maximum = Good == 0 ? reading.Value : std::max(Maximum, reading.Value);
    Sum += reading.Value;
    LastValue = reading.Value;
    ++Good;
    LastGood = time;
}

WatchPoller::WatchPoller(std::vector<PolledRow> rows)
    : rows_(std::move(rows)),
      plan_(PlanBlockReads(rows_)),
      readings_(rows_.size()),
      refused_(rows_.size(), false) {}

bool WatchPoller::Poll(ModbusMaster& master) {
    std::fill(readings_.begin(), readings_.end(), RowReading{});
    transactions_ = 0;
    if (!keep_open_) {
        WithRegisterConnection(master, [&] {
            ReadGroups(master);
            return true;
        });
    } else {
        // Another operation's Disconnect, or a failed open, leaves the link a
        // watch kept down: it is made again.
        if (!held_ || !LinkCarriesRequests(master)) {
            NoteUnitAnswered(master, Connect(master));
            held_ = true;
        }
        ReadGroups(master);
    }
    if (replan_)
        plan_ = Replan();
    replan_ = false;
    return std::all_of(readings_.begin(), readings_.end(),
                       [](const RowReading& reading) { return reading.Ok; });
}

void WatchPoller::Release(ModbusMaster& master) {
    if (held_)
        Disconnect(master);
    held_ = false;
}

void WatchPoller::ReadGroups(ModbusMaster& master) {
    for (size_t i = 0; i < plan_.size() && !master.StoppedByRequest();) {
        const BlockRead block = plan_[i];
        if (ReadGroupOfItsUnit(master, block) == GroupResult::Refused) {
            SplitGroup(i);
            continue;
        }
        ++i;
        // A read cut short by a stop says nothing of the unit.
        if (progress_.Read && !master.StoppedByRequest())
            progress_.Read(block);
    }
}


WatchPoller::GroupResult WatchPoller::ReadGroupOfItsUnit(ModbusMaster& master,
                                                         const BlockRead& block) {
    CommSettings& settings = master.Settings();
    const Lent unit(settings.UnitId, static_cast<int16_t>(block.UnitId != 0 ? block.UnitId
                                                                             : settings.UnitId));
    std::function<void(int, int)> retrying;
    if (progress_.Retrying)
        retrying = [this, &block](int failed, int attempts) {
            progress_.Retrying(block, failed, attempts);
        };
    const Lent notice(master.OnAttemptFailed, std::move(retrying));
    return ReadGroup(master, block);
}

WatchPoller::GroupResult WatchPoller::ReadGroup(ModbusMaster& master, const BlockRead& block) {
    uint8_t data[kMaxReadByteCount + 1] = {};
    ++transactions_;
    if (!master.ReadRegisterBlock(block.Start, data, block.Count)) {
        if (!master.EndedByException)
            return GroupResult::Failed;
        if (block.Rows.size() > 1)
            return GroupResult::Refused;
        replan_ = replan_ || !refused_[block.Rows.front()];
        refused_[block.Rows.front()] = true;
        return GroupResult::Failed;
    }
    for (const size_t index : block.Rows)
        readings_[index] = {true, ShownValue(rows_[index], RowValue(rows_[index], block, data))};
    return GroupResult::Read;
}

// The halves are planned afresh, so rows that still sit together keep
// sharing a read.
void WatchPoller::SplitGroup(size_t index) {
    const std::vector<size_t> rows = plan_[index].Rows;
    const auto middle = rows.begin() + static_cast<std::ptrdiff_t>(rows.size() / 2);
    std::vector<BlockRead> halves = PlanBlockReads(rows_, {rows.begin(), middle});
    const std::vector<BlockRead> second = PlanBlockReads(rows_, {middle, rows.end()});
    halves.insert(halves.end(), second.begin(), second.end());
    plan_.erase(plan_.begin() + static_cast<std::ptrdiff_t>(index));
    plan_.insert(plan_.begin() + static_cast<std::ptrdiff_t>(index), halves.begin(), halves.end());
}

std::vector<BlockRead> WatchPoller::Replan() const {
    std::vector<size_t> together;
    std::vector<int> avoid;
    std::vector<BlockRead> apart;
    for (size_t i = 0; i < rows_.size(); ++i) {
        if (!refused_[i]) {
            together.push_back(i);
            continue;
        }
        apart.push_back({rows_[i].Address, RowRegisters(rows_[i]), {i}, rows_[i].UnitId});
        for (int r = 0; r < RowRegisters(rows_[i]); ++r)
            avoid.push_back(rows_[i].Address + r);
    }
    std::vector<BlockRead> plan;
    if (!together.empty())
        plan = PlanBlockReads(rows_, together, avoid);
    plan.insert(plan.end(), apart.begin(), apart.end());
    return plan;
}

}  // namespace fc
