#pragma once

#include <sys/types.h>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "modbus/traffic_frame.h"

struct pcap;
struct pcap_dumper;

namespace fc {

// A serial line has no addresses: its frames travel in the capture as UDP
// datagrams between these two loopback addresses, RTU frames to one port and
// ASCII frames to another, so that Wireshark can be told to decode the first
// as Modbus RTU ("-d udp.port==5020,mbrtu") and leaves the text of the second
// alone. Wireshark has no port of its own for either.
inline constexpr uint16_t kCaptureRtuPort = 5020;
inline constexpr uint16_t kCaptureAsciiPort = 5021;
inline constexpr const char* kCaptureSerialPc = "127.0.0.1";
// The PC's end of every datagram: a port of its own, so the dissectors can
// tell requests (to the unit's port) from replies.
inline constexpr uint16_t kCapturePcPort = 50200;
inline constexpr const char* kCaptureSerialUnit = "127.0.0.2";

// A pcap file of the driver's traffic, written through libpcap as raw IP
// packets with the frames' own time stamps. Frames that went over TCP become
// TCP segments between the connection's real ends, with sequence and
// acknowledgement numbers that run on from segment to segment, so Wireshark
// follows the stream and its Modbus/TCP dissector takes port 502 unasked.
// Each frame is on disk once Write returns, so a run that is killed keeps
// what it saw; a frame that does not fit (a full disk) is taken out again,
// so the file always ends on a whole packet.
class TrafficCapture {
  public:
    // Creates the file, or replaces one of the user's own (see CreateOwnFile);
    // "-" is standard output. None, with the reason, when it cannot.
    static std::unique_ptr<TrafficCapture> Create(const std::string& path, std::string& error);
    ~TrafficCapture();
    TrafficCapture(const TrafficCapture&) = delete;
    TrafficCapture& operator=(const TrafficCapture&) = delete;

    // False once a write has failed; nothing is written after that.
    bool Write(const TrafficFrame& frame);
    // Closes the file; false when it, or any write before, failed.
    bool Close();
    const std::string& Path() const { return path_; }
    // Why a write or the close failed, empty while none has.
    const std::string& Failure() const { return failure_; }

  private:
    TrafficCapture(int fd, pcap* handle, pcap_dumper* dumper)
        : fd_(fd), pcap_(handle), dumper_(dumper) {}
    std::vector<uint8_t> Packet(const TrafficFrame& frame);
    bool Flushed();

    // Next sequence numbers of a connection, the PC's way and the unit's.
    struct Stream {
        uint32_t pc_next = 1;
        uint32_t unit_next = 1;
    };
    using ConnectionKey =
        std::tuple<std::array<uint8_t, 16>, uint16_t, std::array<uint8_t, 16>, uint16_t>;

    int fd_;
    pcap* pcap_;
    pcap_dumper* dumper_;
    std::map<ConnectionKey, Stream> streams_;
    uint16_t ip_id_ = 1;
    std::string path_;
    off_t whole_length_ = 0;  // where the last whole packet ends
    std::string failure_;
};

// Writes frames, oldest first, into a new capture file at path; false with
// the reason when the file cannot be written.
bool WriteCaptureFile(const std::string& path, const std::vector<TrafficFrame>& frames,
                      std::string& error);

}  // namespace fc
