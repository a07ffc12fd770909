#include "watch/watch_plan.h"

#include <algorithm>
#include <numeric>

namespace fc {

namespace {

// Below the window, the window, above it: a block read keeps to one.
int Zone(int address) {
    if (address < kWideWindowFirst)
        return 0;
    return address <= kWideWindowLast ? 1 : 2;
}

int ValueBytes(RegisterType type) {
    return type == RegisterType::Int16 ? 2 : 4;
}

uint32_t BigEndian(const uint8_t* bytes, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

constexpr int kRegisterSpace = 65536;

}  // namespace

PolledRow ResolveRow(const WatchRow& row, const RegisterTypeRanges& ranges,
                     bool auto_low_word_first) {
    PolledRow polled{row.Address, RegisterType::Int16, false, row.UnitId, row.Form};
    switch (row.Type) {
        case WatchType::Auto:
            polled.Type = TypeForAddress(ranges, row.Address);
            polled.LowWordFirst = auto_low_word_first;
            break;
        case WatchType::Int16:
            break;
        case WatchType::Int32:
            polled.Type = RegisterType::Int32;
            break;
        case WatchType::FloatLoHi:
            polled.LowWordFirst = true;
            [[fallthrough]];
        case WatchType::Float:
            polled.Type = RegisterType::Float;
            break;
    }
    return polled;
}

int RowRegisters(const PolledRow& row) {
    const int width = BlockRegisterWidth(row.Address);
    return (ValueBytes(row.Type) + width - 1) / width;
}

std::vector<BlockRead> PlanBlockReads(const std::vector<PolledRow>& rows,
                                      const std::vector<size_t>& which,
                                      const std::vector<int>& avoid, int max_bytes) {
    std::vector<size_t> order = which;
    if (order.empty()) {
        order.resize(rows.size());
        std::iota(order.begin(), order.end(), size_t{0});
    }
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return std::pair(rows[a].UnitId, rows[a].Address) <
               std::pair(rows[b].UnitId, rows[b].Address);
    });
    std::vector<BlockRead> plan;
    for (const size_t index : order) {
        const PolledRow& row = rows[index];
        const int end = row.Address + RowRegisters(row);
        if (!plan.empty()) {
            BlockRead& block = plan.back();
            const int width = BlockRegisterWidth(block.Start);
            const int block_end = block.Start + block.Count;
            const int gap_bytes = std::max(0, row.Address - block_end) * width;
            const int joined_end = std::max(block_end, end);
            const bool gap_avoided = std::any_of(avoid.begin(), avoid.end(), [&](int address) {
                return address >= block_end && address < row.Address;
            });
            if (row.UnitId == block.UnitId && Zone(row.Address) == Zone(block.Start) &&
                gap_bytes <= kReadThroughBytes &&
                !gap_avoided &&
                (joined_end - block.Start) * width <= max_bytes && joined_end <= kRegisterSpace) {
                block.Count = joined_end - block.Start;
                block.Rows.push_back(index);
                continue;
            }
        }
        plan.push_back({row.Address, end - row.Address, {index}, row.UnitId});
    }
    return plan;
}

double RowValue(const PolledRow& row, const BlockRead& block, const uint8_t* data) {
    const int width = BlockRegisterWidth(block.Start);
    const uint8_t* value = data + static_cast<size_t>(row.Address - block.Start) * width;
    switch (row.Type) {
        case RegisterType::Int16:
            // A 4-byte register read as a 16-bit value gives its low half.
            return BigEndian(value + width - 2, 2);
        case RegisterType::Int32:
            return static_cast<int32_t>(BigEndian(value, 4));
        case RegisterType::Float:
            return FloatFromWire(value, {false, row.LowWordFirst});
    }
    return 0;
}

}  // namespace fc

namespace fc {

double ShownValue(const PolledRow& row, double value) {
    if (row.Type == RegisterType::Float)
        return value * row.Form.Scale + row.Form.Offset;
    const bool wide = row.Type == RegisterType::Int32;
    const auto bits = static_cast<uint32_t>(static_cast<int64_t>(value));
    double number = value;
    switch (row.Form.Show) {
        case WatchShow::Signed:
            number = wide ? static_cast<int32_t>(bits) : static_cast<int16_t>(bits);
            break;
        case WatchShow::Hex:
        case WatchShow::Bits:
            return wide ? bits : bits & 0xffffu;
        case WatchShow::Unsigned:
            number = wide ? bits : bits & 0xffffu;
            break;
        case WatchShow::Plain:
            break;
    }
    return number * row.Form.Scale + row.Form.Offset;
}

}  // namespace fc
