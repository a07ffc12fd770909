#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modbus/traffic_capture.h"
#include "tests/support/temp_dir.h"
#include "tests/support/tshark.h"

// What Wireshark makes of the capture files, asked of tshark.
namespace fc::test {
namespace {

using Bytes = std::vector<uint8_t>;
using std::chrono::microseconds;
using std::chrono::system_clock;

TrafficEndpoint End(int family, const char* address, uint16_t port) {
    TrafficEndpoint end;
    end.family = family;
    inet_pton(family, address, end.address.data());
    end.port = port;
    return end;
}

TrafficFrame Frame(Framing framing, TrafficDirection direction, Bytes wire, int64_t micros) {
    TrafficFrame frame;
    frame.time = system_clock::time_point(microseconds(micros));
    frame.framing = framing;
    frame.direction = direction;
    frame.wire = std::move(wire);
    return frame;
}

TrafficFrame Tcp(TrafficDirection direction, Bytes wire, int64_t micros, int family = AF_INET) {
    TrafficFrame frame = Frame(Framing::ModbusTcp, direction, std::move(wire), micros);
    const bool v6 = family == AF_INET6;
    frame.pc = End(family, v6 ? "fd00::5" : "192.168.7.5", 40111);
    frame.unit = End(family, v6 ? "fd00::20" : "192.168.7.20", 502);
    return frame;
}

constexpr auto kSent = TrafficDirection::Sent;
constexpr auto kReceived = TrafficDirection::Received;
// 1 700 000 000.123456 s: a time stamp that shows in every digit.
constexpr int64_t kT0 = 1700000000123456;

class CaptureFileTest : public ::testing::Test {
  protected:
    TempDir dir_;
    std::string Write(const std::vector<TrafficFrame>& frames) {
        const std::string path = dir_.File("traffic.pcap");
        std::string error;
        EXPECT_TRUE(WriteCaptureFile(path, frames, error)) << error;
        return path;
    }
};

// A read and a write over Modbus TCP, once over IPv4 and once over IPv6: with
// the unit on port 502 Wireshark decodes it with no option, classifies query
// and response, and its TCP analysis finds nothing amiss with the sequence
// numbers (no lost segment, no retransmission).
TEST_F(CaptureFileTest, ModbusTcpDecodesWithNoOption) {
    for (const int family : {AF_INET, AF_INET6}) {
        SCOPED_TRACE(family);
        const std::string path = Write({
            Tcp(kSent, {0, 0, 0, 0, 0, 6, 1, 3, 0x0A, 0x59, 0, 1}, kT0, family),
            Tcp(kReceived, {0, 0, 0, 0, 0, 5, 1, 3, 2, 0, 2}, kT0 + 4000, family),
            Tcp(kSent, {0, 0, 0, 0, 0, 11, 1, 16, 0x0A, 0x5A, 0, 2, 4, 0, 1, 0, 5}, kT0 + 9000,
                family),
            Tcp(kReceived, {0, 0, 0, 0, 0, 6, 1, 16, 0x0A, 0x5A, 0, 2}, kT0 + 12000, family),
        });
        const auto rows =
            TsharkFields(path, {}, "",
                         {"frame.time_epoch", "ipv6.src", "ip.src", "tcp.srcport", "tcp.seq",
                          "tcp.ack", "mbtcp.unit_id", "modbus.func_code", "modbus.reference_num",
                          "modbus.word_cnt", "modbus.request_frame", "tcp.analysis.flags"});
        const std::vector<std::vector<std::string>> expected = {
            {"1700000000.123456000", "fd00::5", "192.168.7.5", "40111", "1", "1", "1", "3", "2649",
             "1", "", ""},
            {"1700000000.127456000", "fd00::20", "192.168.7.20", "502", "1", "13", "1", "3", "", "",
             "1", ""},
            {"1700000000.132456000", "fd00::5", "192.168.7.5", "40111", "13", "12", "1", "16",
             "2650", "2", "", ""},
            {"1700000000.135456000", "fd00::20", "192.168.7.20", "502", "12", "30", "1", "16",
             "2650", "2", "3", ""},
        };
        ASSERT_EQ(rows.size(), expected.size());
        for (size_t i = 0; i < rows.size(); ++i) {
            std::vector<std::string> want = expected[i];
            (family == AF_INET ? want[1] : want[2]) = "";
            EXPECT_EQ(rows[i], want) << "packet " << i + 1;
        }
    }
}

// Serial frames: RTU datagrams that Wireshark's RTU-over-UDP option decodes, ASCII
// datagrams that carry their text; each way between the two loopback ends.
// A Modbus TCP frame whose connection could not be named goes to 502 as
// Modbus/UDP.
TEST_F(CaptureFileTest, SerialFramesAsDatagrams) {
    const std::string text = ":01030A59000198\r\n";
    const std::string path = Write({
        Frame(Framing::Rtu, kSent, {1, 3, 0x0A, 0x59, 0, 1, 0x57, 0xC1}, kT0),
        Frame(Framing::Rtu, kReceived, {1, 3, 2, 0, 1, 0x79, 0x84}, kT0 + 1),
        Frame(Framing::Ascii, kSent, Bytes(text.begin(), text.end()), kT0 + 2),
        Frame(Framing::ModbusTcp, kSent, {0, 0, 0, 0, 0, 6, 1, 3, 0x0A, 0x59, 0, 1}, kT0 + 3),
    });
    const auto rows =
        TsharkFields(path, {"-d", "udp.port==5020,mbrtu", "-o", "data.show_as_text:TRUE"}, "",
                     {"ip.src", "ip.dst", "udp.srcport", "udp.dstport", "mbrtu.unit_id",
                      "modbus.func_code", "modbus.reference_num", "modbus.word_cnt", "data.text"});
    const std::vector<std::vector<std::string>> expected = {
        {"127.0.0.1", "127.0.0.2", "50200", "5020", "1", "3", "2649", "1", ""},
        {"127.0.0.2", "127.0.0.1", "5020", "50200", "1", "3", "", "", ""},
        {"127.0.0.1", "127.0.0.2", "50200", "5021", "", "", "", "", ":01030A59000198\\r\\n"},
        {"127.0.0.1", "127.0.0.2", "50200", "502", "", "3", "2649", "1", ""},
    };
    EXPECT_EQ(rows, expected);
}

TEST_F(CaptureFileTest, AFileThatCannotBeMadeSaysWhy) {
    std::string error;
    EXPECT_EQ(TrafficCapture::Create(dir_.File("no/such/folder/x.pcap"), error), nullptr);
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace fc::test
