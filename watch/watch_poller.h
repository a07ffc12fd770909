#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "watch/watch_plan.h"

namespace fc {

class ModbusMaster;

struct RowReading {
    bool Ok = false;
    double Value = 0;
};

// The value as the register page shows it: decimal, or "%f" for a float.
std::string ReadingText(const PolledRow& row, const RowReading& reading);

// What the watch shows of a row over the polls since the last reset.
struct RowStatistics {
    double Minimum = 0;
    double Maximum = 0;
    double Sum = 0;
    long long Good = 0;
    long long Failed = 0;
    std::optional<std::chrono::system_clock::time_point> LastGood;

    void Add(const RowReading& reading, std::chrono::system_clock::time_point time);
    double Mean() const { return Good > 0 ? Sum / static_cast<double>(Good) : 0; }
};

// Polls a list of rows: each cycle one connection and the fewest block reads
// (PlanBlockReads). A read the unit refuses with an exception is split in
// two and both halves read at once, down to the refused row alone, which
// from then on has a read of its own that no other read passes through: the
// other rows go on updating, still together. A read that gets no answer
// fails its rows and is tried whole again next cycle.
class WatchPoller {
  public:
    explicit WatchPoller(std::vector<PolledRow> rows);

    // One cycle on the driver, with its settings; true when every row read.
    // A stop request raised on the driver ends the cycle at once; the rows
    // not read count as failed.
    bool Poll(ModbusMaster& master);

    // Keeps the link open from one cycle to the next (and opens it again
    // when it has gone) until Release, for a watch that shares the link with
    // nothing else: opening a serial port costs a poll the time the driver
    // listens to a line it has just opened. Otherwise each cycle connects
    // and disconnects, as every operation of the window does.
    void KeepLinkOpen() { keep_open_ = true; }
    void Release(ModbusMaster& master);

    const std::vector<PolledRow>& Rows() const { return rows_; }
    const std::vector<RowReading>& Readings() const { return readings_; }
    const std::vector<BlockRead>& Plan() const { return plan_; }
    // Block reads sent in the last cycle.
    int Transactions() const { return transactions_; }

  private:
    enum class GroupResult { Read, Failed, Refused };
    GroupResult ReadGroup(ModbusMaster& master, const BlockRead& block);
    void SplitGroup(size_t index);
    // The plan with the refused rows apart.
    std::vector<BlockRead> Replan() const;
    void ReadGroups(ModbusMaster& master);

    std::vector<PolledRow> rows_;
    std::vector<BlockRead> plan_;
    std::vector<RowReading> readings_;
    std::vector<bool> refused_;
    bool replan_ = false;
    bool keep_open_ = false;
    bool held_ = false;
    int transactions_ = 0;
};

}  // namespace fc
