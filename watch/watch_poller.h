#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "registers/register_operations.h"
#include "watch/watch_plan.h"

namespace fc {

class ModbusMaster;

// Value is the row's shown value (ShownValue).
struct RowReading {
    bool Ok = false;
    double Value = 0;
};

// The value in the row's form: decimal as the register page shows it ("%f"
// for a float), with the decimals its scale and offset need; "0x002A" for
// hex; for bits the register bit by bit, highest first in groups of four,
// then the set bits by name ("0000 0000 0000 0101 = low flow, bit 2").
// Empty for a failed reading. Without the unit of measure: a log's cells
// are numbers, its header names the unit.
std::string ReadingText(const PolledRow& row, const RowReading& reading);
// With the unit of measure, as a table shows it: "12.5 m3/h".
std::string ShownText(const PolledRow& row, const RowReading& reading);
// A mean in fixed notation, a little finer than the row's values.
std::string MeanText(const PolledRow& row, double mean);

// A value typed for a row, in what the row shows (its engineering value),
// read by the register page's field rules for a number, and turned back into
// the register's value: whole for an integer register (3.9 writes 3 to an
// unscaled row; a scaled row takes the nearest). Empty, with the prompt to
// show, for a text that is no number and for a value the register cannot
// hold, which would reach the unit as another number.
std::optional<RegisterValue> RowValueFromText(const PolledRow& row, std::string_view text,
                                              std::string& prompt);
// Writes it to the row's register, addressed to the row's unit, in its own
// connection; true when the unit took it.
bool WriteRow(ModbusMaster& master, const PolledRow& row, const RegisterValue& value);

// What the watch shows of a row over the polls since the last reset.
struct RowStatistics {
    double Minimum = 0;
    double Maximum = 0;
    double Sum = 0;
    long long Good = 0;
    long long Failed = 0;
    double LastValue = 0;
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

    // Told as each block read of a cycle ends, its rows' readings set, so a
    // slow unit's rows show their outcome as it comes, not when the cycle
    // ends; and after each attempt of a read that went unanswered when
    // another follows (the attempt that failed, from 1, and how many).
    struct Progress {
        std::function<void(const BlockRead&)> Read;
        std::function<void(const BlockRead&, int failed, int attempts)> Retrying;
    };
    void SetProgress(Progress progress) { progress_ = std::move(progress); }

    // One cycle on the driver, with its settings (each block read addressed
    // to its rows' unit); true when every row read. A stop request raised on
    // the driver ends the cycle at once; the rows not read count as failed.
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
    GroupResult ReadGroupOfItsUnit(ModbusMaster& master, const BlockRead& block);
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
    Progress progress_;
};

}  // namespace fc
