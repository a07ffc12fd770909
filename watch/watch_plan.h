#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "modbus/modbus_master.h"
#include "registers/register_types.h"
#include "watch/watch_list.h"

namespace fc {

// A row as a poll reads it: the type settled (Auto through the ranges).
struct PolledRow {
    int Address = 0;
    RegisterType Type = RegisterType::Int16;
    bool LowWordFirst = false;
    int UnitId = 0;  // 0: the unit address of the settings
    RowForm Form{};
};

// Auto rows take the type from the ranges and, when that is a float, the
// word order the window's "Floating Point" buttons or --float-order give.
PolledRow ResolveRow(const WatchRow& row, const RegisterTypeRanges& ranges,
                     bool auto_low_word_first);

// The registers a row spans in a block read: as many as its value's bytes
// (2 for a 16-bit value, 4 otherwise) need at the register width of its
// address. So a float or a 32-bit value takes one 4-byte register inside
// the 7000-7999 window and two 2-byte registers outside it.
int RowRegisters(const PolledRow& row);

// One block read of a poll: `Count` registers from `Start`, as wide as
// BlockRegisterWidth(Start) makes them, of one unit, carrying the rows listed.
struct BlockRead {
    int Start = 0;
    int Count = 0;
    std::vector<size_t> Rows;  // indexes into the polled rows
    int UnitId = 0;
    bool operator==(const BlockRead&) const = default;
};

// A gap of unwatched registers is read through while it costs no more bytes
// than a transaction's own: the request (8), the reply's frame (5) and the
// silence of 3.5 characters around each of the two frames (7).
inline constexpr int kReadThroughBytes = 20;

// The fewest block reads that carry the rows given (all when `which` is
// empty): neighbours of one unit share a read up to `max_bytes` of reply data, short gaps
// are read through unless they hold a register of `avoid` (one the unit
// refused), and no read crosses the edges of the 4-byte window.
std::vector<BlockRead> PlanBlockReads(const std::vector<PolledRow>& rows,
                                      const std::vector<size_t>& which = {},
                                      const std::vector<int>& avoid = {},
                                      int max_bytes = kMaxReadByteCount);

// The value of a row from the reply data of its block (`data` holds the
// block's bytes as they came), in the register page's form.
double RowValue(const PolledRow& row, const BlockRead& block, const uint8_t* data);
// That value as the row's form shows it: signed or unsigned, the bits as an
// unsigned number for hex and bits, scaled and offset otherwise.
double ShownValue(const PolledRow& row, double value);

}  // namespace fc
