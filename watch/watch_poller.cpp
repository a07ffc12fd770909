#include "watch/watch_poller.h"

#include <algorithm>

#include "connection/connection.h"
#include "modbus/modbus_master.h"
#include "registers/register_operations.h"

namespace fc {

std::string ReadingText(const PolledRow& row, const RowReading& reading) {
    if (!reading.Ok)
        return {};
    if (row.Type == RegisterType::Float)
        return DoubleToText(reading.Value);
    return IntToText(static_cast<int>(reading.Value));
}

void RowStatistics::Add(const RowReading& reading, std::chrono::system_clock::time_point time) {
    if (!reading.Ok) {
        ++Failed;
        return;
    }
    Minimum = Good == 0 ? reading.Value : std::min(Minimum, reading.Value);
    Maximum = Good == 0 ? reading.Value : std::max(Maximum, reading.Value);
    Sum += reading.Value;
    ++Good;
    LastGood = time;
}

WatchPoller::WatchPoller(std::vector<PolledRow> rows)
    : rows_(std::move(rows)),
      plan_(PlanBlockReads(rows_)),
      readings_(rows_.size()),
      refused_(rows_.size(), false) {}

namespace {
// Whether the link a watch kept open still carries transactions: another
// operation's Disconnect, or a failed open, leaves it down.
bool LinkUp(ModbusMaster& master) {
    if (master.Settings().UseIP)
        return master.Links().LinkState != kLinkDown;
    return master.IsOpen() && master.Links().LinkOpen != 0;
}
}  // namespace

bool WatchPoller::Poll(ModbusMaster& master) {
    std::fill(readings_.begin(), readings_.end(), RowReading{});
    transactions_ = 0;
    if (!keep_open_) {
        WithRegisterConnection(master, [&] {
            ReadGroups(master);
            return true;
        });
    } else {
        if (!held_ || !LinkUp(master)) {
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
        if (ReadGroup(master, plan_[i]) == GroupResult::Refused)
            SplitGroup(i);
        else
            ++i;
    }
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
        readings_[index] = {true, RowValue(rows_[index], block, data)};
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
        apart.push_back({rows_[i].Address, RowRegisters(rows_[i]), {i}});
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
