#pragma once

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
// what it saw.
class TrafficCapture {
  public:
    // Creates (or empties) the file; none, with the reason, when it cannot.
    static std::unique_ptr<TrafficCapture> Create(const std::string& path, std::string& error);
    ~TrafficCapture();
    TrafficCapture(const TrafficCapture&) = delete;
    TrafficCapture& operator=(const TrafficCapture&) = delete;

    // False once a write has failed (a full disk, say).
    bool Write(const TrafficFrame& frame);

  private:
    TrafficCapture(pcap* handle, pcap_dumper* dumper) : pcap_(handle), dumper_(dumper) {}
    std::vector<uint8_t> Packet(const TrafficFrame& frame);

    // Next sequence numbers of a connection, the PC's way and the unit's.
    struct Stream {
        uint32_t pc_next = 1;
        uint32_t unit_next = 1;
    };
    using ConnectionKey =
        std::tuple<std::array<uint8_t, 16>, uint16_t, std::array<uint8_t, 16>, uint16_t>;

    pcap* pcap_;
    pcap_dumper* dumper_;
    std::map<ConnectionKey, Stream> streams_;
    uint16_t ip_id_ = 1;
    bool failed_ = false;
};

// Writes frames, oldest first, into a new capture file at path; false with
// the reason when the file cannot be written.
bool WriteCaptureFile(const std::string& path, const std::vector<TrafficFrame>& frames,
                      std::string& error);

}  // namespace fc
