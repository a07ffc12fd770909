#include "modbus/traffic_capture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <pcap/pcap.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/regular_file.h"

namespace fc {

namespace {

// Big enough for any frame of the driver: 517 ASCII characters behind an
// IPv6 and a TCP header.
constexpr int kSnapLength = 65535;
constexpr uint8_t kTcp = 6;
constexpr uint8_t kUdp = 17;
constexpr uint8_t kPushAck = 0x18;
constexpr uint16_t kWindow = 65535;
constexpr uint16_t kModbusPort = 502;

void Put16(std::vector<uint8_t>& out, size_t at, uint16_t value) {
    out[at] = static_cast<uint8_t>(value >> 8);
    out[at + 1] = static_cast<uint8_t>(value);
}

void Put32(std::vector<uint8_t>& out, size_t at, uint32_t value) {
    Put16(out, at, static_cast<uint16_t>(value >> 16));
    Put16(out, at + 2, static_cast<uint16_t>(value));
}

// The Internet checksum's running sum over bytes.
uint32_t SumWords(const uint8_t* bytes, size_t count, uint32_t sum = 0) {
    for (size_t i = 0; i + 1 < count; i += 2)
        sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    if (count % 2)
        sum += static_cast<uint32_t>(bytes[count - 1] << 8);
    return sum;
}

uint16_t Fold(uint32_t sum) {
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint16_t>(~sum);
}

TrafficEndpoint SerialEnd(const char* address, uint16_t port) {
    TrafficEndpoint end;
    end.family = AF_INET;
    inet_pton(AF_INET, address, end.address.data());
    end.port = port;
    return end;
}

// Where a frame goes when no connection says: MBAP frames whose socket could
// not name its ends (a unit that had just hung up) go to 502, which Wireshark
// decodes as Modbus/UDP by itself.
uint16_t DatagramPort(Framing framing) {
    switch (framing) {
        case Framing::Ascii:
            return kCaptureAsciiPort;
        case Framing::ModbusTcp:
            return kModbusPort;
        case Framing::Rtu:
        case Framing::Encapsulated:
            break;
    }
    return kCaptureRtuPort;
}

size_t AddressLength(int family) {
    return family == AF_INET6 ? 16 : 4;
}

// An IP packet from `from` to `to` around a transport segment whose checksum
// field sits at checksum_at; fills in both checksums.
std::vector<uint8_t> IpPacket(const TrafficEndpoint& from, const TrafficEndpoint& to,
                              uint8_t protocol, std::vector<uint8_t> segment, size_t checksum_at,
                              uint16_t id) {
    const bool v6 = from.family == AF_INET6;
    const size_t address_length = AddressLength(from.family);
    // The pseudo-header: both addresses, the protocol and the segment length.
    uint32_t sum = SumWords(from.address.data(), address_length);
    sum = SumWords(to.address.data(), address_length, sum);
    sum += protocol + static_cast<uint32_t>(segment.size());
    Put16(segment, checksum_at, 0);
    uint16_t checksum = Fold(SumWords(segment.data(), segment.size(), sum));
    if (protocol == kUdp && checksum == 0)
        checksum = 0xFFFF;
    Put16(segment, checksum_at, checksum);

    std::vector<uint8_t> packet(v6 ? 40 : 20);
    if (v6) {
        packet[0] = 0x60;
        Put16(packet, 4, static_cast<uint16_t>(segment.size()));
        packet[6] = protocol;
        packet[7] = 64;
        std::memcpy(&packet[8], from.address.data(), 16);
        std::memcpy(&packet[24], to.address.data(), 16);
    } else {
        packet[0] = 0x45;
        Put16(packet, 2, static_cast<uint16_t>(20 + segment.size()));
        Put16(packet, 4, id);
        Put16(packet, 6, 0x4000);  // don't fragment
        packet[8] = 64;
        packet[9] = protocol;
        std::memcpy(&packet[12], from.address.data(), 4);
        std::memcpy(&packet[16], to.address.data(), 4);
        Put16(packet, 10, Fold(SumWords(packet.data(), 20)));
    }
    packet.insert(packet.end(), segment.begin(), segment.end());
    return packet;
}

std::vector<uint8_t> UdpSegment(uint16_t from_port, uint16_t to_port,
                                const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> segment(8);
    Put16(segment, 0, from_port);
    Put16(segment, 2, to_port);
    Put16(segment, 4, static_cast<uint16_t>(8 + payload.size()));
    segment.insert(segment.end(), payload.begin(), payload.end());
    return segment;
}

std::vector<uint8_t> TcpSegment(uint16_t from_port, uint16_t to_port, uint32_t seq, uint32_t ack,
                                const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> segment(20);
    Put16(segment, 0, from_port);
    Put16(segment, 2, to_port);
    Put32(segment, 4, seq);
    Put32(segment, 8, ack);
    segment[12] = 5 << 4;  // header length in 32-bit words
    segment[13] = kPushAck;
    Put16(segment, 14, kWindow);
    segment.insert(segment.end(), payload.begin(), payload.end());
    return segment;
}

}  // namespace

std::unique_ptr<TrafficCapture> TrafficCapture::Create(const std::string& path,
                                                       std::string& error) {
    const int fd =
        path == "-" ? ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0) : CreateOwnFile(path, error);
    if (fd < 0) {
        if (path == "-")
            error = std::strerror(errno);
        return nullptr;
    }
    pcap_t* handle = pcap_open_dead(DLT_RAW, kSnapLength);
    // libpcap closes the stream it is given; the capture keeps its own
    // descriptor to cut a partial packet off and to check the close.
    const int stream_fd = handle ? ::fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    std::FILE* stream = stream_fd >= 0 ? ::fdopen(stream_fd, "wb") : nullptr;
    if (!stream) {
        error = handle ? std::strerror(errno) : "libpcap could not start a capture";
        if (stream_fd >= 0)
            ::close(stream_fd);
        if (handle)
            pcap_close(handle);
        ::close(fd);
        return nullptr;
    }
    // Unbuffered: a failed write shows at once, and nothing is left over for
    // the close to write behind a packet that was taken out.
    std::setvbuf(stream, nullptr, _IONBF, 0);
    pcap_dumper_t* dumper = pcap_dump_fopen(handle, stream);
    if (!dumper) {
        error = pcap_geterr(handle);
        std::fclose(stream);
        pcap_close(handle);
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<TrafficCapture> capture(new TrafficCapture(fd, handle, dumper));
    capture->path_ = path;
    if (!capture->Flushed()) {
        error = capture->failure_;
        return nullptr;
    }
    return capture;
}

TrafficCapture::~TrafficCapture() {
    Close();
}

bool TrafficCapture::Flushed() {
    std::FILE* stream = pcap_dump_file(dumper_);
    if (std::ferror(stream) == 0 && pcap_dump_flush(dumper_) == 0) {
        const off_t end = ::lseek(fd_, 0, SEEK_CUR);
        whole_length_ = end >= 0 ? end : whole_length_;
        return true;
    }
    failure_ = std::strerror(errno != 0 ? errno : EIO);
    // Standard output may be a pipe, which cannot be cut; a file can.
    if (::ftruncate(fd_, whole_length_) == 0)
        ::lseek(fd_, whole_length_, SEEK_SET);
    return false;
}

bool TrafficCapture::Close() {
    if (!dumper_)
        return failure_.empty();
    pcap_dump_close(dumper_);
    pcap_close(pcap_);
    dumper_ = nullptr;
    if (::close(fd_) != 0 && failure_.empty())
        failure_ = std::strerror(errno);
    return failure_.empty();
}

std::vector<uint8_t> TrafficCapture::Packet(const TrafficFrame& frame) {
    const bool sent = frame.direction == TrafficDirection::Sent;
    const uint16_t id = ip_id_++;
    if (frame.pc.family == 0 || frame.pc.family != frame.unit.family) {
        const uint16_t port = DatagramPort(frame.framing);
        const TrafficEndpoint pc = SerialEnd(kCaptureSerialPc, kCapturePcPort);
        const TrafficEndpoint unit = SerialEnd(kCaptureSerialUnit, port);
        const TrafficEndpoint& from = sent ? pc : unit;
        const TrafficEndpoint& to = sent ? unit : pc;
        return IpPacket(from, to, kUdp, UdpSegment(from.port, to.port, frame.wire), 6, id);
    }
    Stream& stream =
        streams_[{frame.pc.address, frame.pc.port, frame.unit.address, frame.unit.port}];
    uint32_t& own = sent ? stream.pc_next : stream.unit_next;
    const uint32_t other = sent ? stream.unit_next : stream.pc_next;
    const TrafficEndpoint& from = sent ? frame.pc : frame.unit;
    const TrafficEndpoint& to = sent ? frame.unit : frame.pc;
    std::vector<uint8_t> segment = TcpSegment(from.port, to.port, own, other, frame.wire);
    own += static_cast<uint32_t>(frame.wire.size());
    return IpPacket(from, to, kTcp, std::move(segment), 16, id);
}

bool TrafficCapture::Write(const TrafficFrame& frame) {
    if (!failure_.empty() || !dumper_)
        return false;
    const std::vector<uint8_t> packet = Packet(frame);
    using namespace std::chrono;
    const auto since_epoch = duration_cast<microseconds>(frame.time.time_since_epoch()).count();
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(since_epoch / 1000000);
    header.ts.tv_usec = static_cast<suseconds_t>(since_epoch % 1000000);
    header.caplen = static_cast<bpf_u_int32>(packet.size());
    header.len = header.caplen;
    errno = 0;
    pcap_dump(reinterpret_cast<u_char*>(dumper_), &header, packet.data());
    return Flushed();
}

bool WriteCaptureFile(const std::string& path, const std::vector<TrafficFrame>& frames,
                      std::string& error) {
    auto capture = TrafficCapture::Create(path, error);
    if (!capture)
        return false;
    for (const TrafficFrame& frame : frames) {
        if (!capture->Write(frame))
            break;
    }
    if (capture->Close())
        return true;
    error = capture->Failure();
    return false;
}

}  // namespace fc
