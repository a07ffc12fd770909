#include "sim/wire_framing.h"

#include <algorithm>
#include <cstdio>

#include "modbus/frame_codec.h"

namespace fc::sim {

namespace {

constexpr size_t kMbapHeader = 6;
constexpr size_t kMaxMbapLength = 254;  // unit + the largest PDU
constexpr size_t kMaxAsciiText = 600;   // drop a line that never ends
constexpr size_t kMaxRtuFrame = 256;    // the longest RTU frame there is

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

Frame MakeFrame(std::span<const uint8_t> adu, size_t wire_bytes) {
    Frame frame;
    frame.request.unit = adu[0];
    frame.request.function = adu[1];
    frame.request.body.assign(adu.begin() + 2, adu.end());
    frame.wire_bytes = wire_bytes;
    return frame;
}

}  // namespace

const char* TransportName(Transport transport) {
    switch (transport) {
        case Transport::SerialRtu:
            return "rtu";
        case Transport::SerialAscii:
            return "ascii";
        case Transport::ModbusTcp:
            return "modbus-tcp";
        case Transport::RtuOverTcp:
            return "rtu-tcp";
    }
    return "?";
}

int RtuRequestLength(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2)
        return 0;
    switch (bytes[1]) {
        case 1:
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 8:
            return 8;
        case 15:
        case 16:
            return bytes.size() < 7 ? 0 : 9 + bytes[6];
        default:
            return -1;
    }
}

void RequestParser::SetTransport(Transport transport) {
    if (transport != transport_)
        buffer_.clear();
    transport_ = transport;
}

void RequestParser::Feed(std::span<const uint8_t> bytes, Clock::time_point now) {
    // A line that went quiet in the middle of an RTU frame ends that frame:
    // whatever came before the silence cannot belong to this request.
    if (transport_ == Transport::SerialRtu && !buffer_.empty() && now - last_byte_ > Silence() &&
        RtuRequestLength(buffer_) >= 0)
        buffer_.clear();
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
    last_byte_ = now;
    // An unknown function waits for silence to end it; one that runs past the
    // longest frame without a pause overflows a unit's receive buffer, and the
    // unit drops it rather than keep every byte of an endless stream.
    if (transport_ == Transport::SerialRtu && buffer_.size() > kMaxRtuFrame &&
        RtuRequestLength(buffer_) < 0)
        buffer_.clear();
}

std::chrono::microseconds RequestParser::Silence() const {
    // 3.5 characters, but a pseudo-terminal hands bytes over in bursts, so
    // never less than a few scheduler ticks.
    return std::max(char_time_ * 7 / 2, std::chrono::microseconds(20000));
}

std::optional<RequestParser::Clock::time_point> RequestParser::Deadline() const {
    if (buffer_.empty() || transport_ != Transport::SerialRtu)
        return std::nullopt;
    return last_byte_ + Silence();
}

std::optional<Frame> RequestParser::Next(Clock::time_point now) {
    switch (transport_) {
        case Transport::SerialAscii:
            return NextAscii();
        case Transport::ModbusTcp:
            return NextMbap();
        case Transport::SerialRtu:
        case Transport::RtuOverTcp:
        default:
            return NextRtu(now);
    }
}

std::optional<Frame> RequestParser::NextRtu(Clock::time_point now) {
    while (!buffer_.empty()) {
        int length = RtuRequestLength(buffer_);
        if (length == 0)
            return std::nullopt;
        if (length < 0) {
            // Unknown function: only the line's silence ends it (on TCP the
            // segment that brought it does).
            if (transport_ == Transport::SerialRtu && now - last_byte_ < Silence())
                return std::nullopt;
            length = static_cast<int>(buffer_.size());
        }
        if (buffer_.size() < static_cast<size_t>(length))
            return std::nullopt;
        const std::span<const uint8_t> adu(buffer_.data(), static_cast<size_t>(length));
        if (length < 4 || Crc16(adu) != 0) {
            // A broken frame: a unit waits for silence and starts again.
            buffer_.clear();
            return std::nullopt;
        }
        Frame frame = MakeFrame(adu.first(adu.size() - 2), adu.size());
        buffer_.erase(buffer_.begin(), buffer_.begin() + length);
        return frame;
    }
    return std::nullopt;
}

std::optional<Frame> RequestParser::NextAscii() {
    while (true) {
        const auto colon = std::find(buffer_.begin(), buffer_.end(), ':');
        buffer_.erase(buffer_.begin(), colon);
        if (buffer_.empty())
            return std::nullopt;
        const auto next_colon = std::find(buffer_.begin() + 1, buffer_.end(), ':');
        const uint8_t crlf[] = {'\r', '\n'};
        const auto end = std::search(buffer_.begin(), next_colon, crlf, crlf + 2);
        if (end == next_colon) {
            if (next_colon != buffer_.end()) {
                buffer_.erase(buffer_.begin(), next_colon);  // a frame cut short by a new one
                continue;
            }
            if (buffer_.size() > kMaxAsciiText)
                buffer_.clear();
            return std::nullopt;
        }
        const size_t text_length = static_cast<size_t>(end - buffer_.begin()) + 2;
        std::vector<uint8_t> bytes;
        bool valid = (text_length - 3) % 2 == 0;
        for (auto it = buffer_.begin() + 1; valid && it + 1 < end; it += 2) {
            const int high = HexValue(*it), low = HexValue(*(it + 1));
            valid = high >= 0 && low >= 0;
            bytes.push_back(static_cast<uint8_t>(high << 4 | low));
        }
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(text_length));
        if (valid && bytes.size() >= 3 && ByteSum(bytes) == 0)
            return MakeFrame(std::span(bytes).first(bytes.size() - 1), text_length);
    }
}

std::optional<Frame> RequestParser::NextMbap() {
    if (buffer_.size() < kMbapHeader)
        return std::nullopt;
    const size_t length = static_cast<size_t>(buffer_[4] << 8 | buffer_[5]);
    if (buffer_[2] != 0 || buffer_[3] != 0 || length < 2 || length > kMaxMbapLength) {
        // Not Modbus: nothing later in this stream can be trusted either.
        buffer_.clear();
        return std::nullopt;
    }
    if (buffer_.size() < kMbapHeader + length)
        return std::nullopt;
    Frame frame = MakeFrame(std::span(buffer_).subspan(kMbapHeader, length), kMbapHeader + length);
    frame.transaction = static_cast<uint16_t>(buffer_[0] << 8 | buffer_[1]);
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(kMbapHeader + length));
    return frame;
}

std::vector<uint8_t> BuildReply(Transport transport, uint8_t unit, uint16_t transaction,
                                std::span<const uint8_t> pdu, bool corrupt_check) {
    std::vector<uint8_t> adu{unit};
    adu.insert(adu.end(), pdu.begin(), pdu.end());
    switch (transport) {
        case Transport::SerialAscii: {
            adu.push_back(static_cast<uint8_t>(Lrc(adu) ^ (corrupt_check ? 0x01 : 0x00)));
            static const char kHex[] = "0123456789ABCDEF";
            std::vector<uint8_t> text{':'};
            for (uint8_t byte : adu) {
                text.push_back(static_cast<uint8_t>(kHex[byte >> 4]));
                text.push_back(static_cast<uint8_t>(kHex[byte & 0x0F]));
            }
            text.push_back('\r');
            text.push_back('\n');
            return text;
        }
        case Transport::ModbusTcp: {
            if (corrupt_check)
                adu.back() ^= 0x01;  // no check field: spoil the payload instead
            std::vector<uint8_t> out{
                static_cast<uint8_t>(transaction >> 8), static_cast<uint8_t>(transaction), 0, 0,
                static_cast<uint8_t>(adu.size() >> 8),  static_cast<uint8_t>(adu.size())};
            out.insert(out.end(), adu.begin(), adu.end());
            return out;
        }
        case Transport::SerialRtu:
        case Transport::RtuOverTcp:
        default: {
            const uint16_t crc = Crc16(adu);
            adu.push_back(static_cast<uint8_t>(crc >> 8));
            adu.push_back(static_cast<uint8_t>((crc & 0xFF) ^ (corrupt_check ? 0x01 : 0x00)));
            return adu;
        }
    }
}

std::string HexText(std::span<const uint8_t> bytes) {
    std::string text;
    char digits[4];
    for (uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%s%02X", text.empty() ? "" : " ", byte);
        text += digits;
    }
    return text;
}

}  // namespace fc::sim
