#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "sim/fault_table.h"
#include "sim/traffic_log.h"
#include "sim/unit_model.h"
#include "sim/wire_framing.h"

namespace fc::sim {

inline constexpr int kNoPort = -1;

// What a unit does with a request: answer it, carry it out unanswered (a
// broadcast), or leave it to another unit.
enum class Addressing { Answer, ExecuteSilently, Ignore };

struct SimulatorOptions {
    UnitConfig unit;
    bool pty = false;
    std::string link;               // symlink made to point at the pty slave
    std::string device;             // an existing serial device instead of a pty
    int tcp_port = kNoPort;         // Modbus TCP; 0 lets the kernel choose
    int rtu_tcp_port = kNoPort;     // RTU frames over TCP; 0 lets the kernel choose
    int latency_ms = 0;             // the unit's think time before each reply
    bool pace = false;              // serial replies at 10 bits per character of the line
    bool mismatch_garbage = false;  // wrong line speed: answer garbage, not silence
    std::vector<uint8_t> more_units;  // further units on the same endpoints, at these addresses
    std::vector<FaultRule> faults;
    std::vector<std::pair<uint16_t, uint32_t>> registers;  // initial contents
    std::string log;      // traffic log file, "-" for stderr, empty for none
    std::string control;  // Unix socket for one-line commands, empty for none
    // A connection (TCP or control) that sends nothing for this long is
    // closed, so idle clients cannot hold every descriptor; 0: never.
    int idle_timeout_s = 60;
    std::string flash_out;  // where "flash-out" without a path writes the image
};

// One request the unit took, as the tests compare them.
struct LoggedRequest {
    Transport transport = Transport::SerialRtu;
    RequestInfo info;                 // unit, function, address, count, values
    std::vector<std::string> faults;  // the fault rules that fired on it
};

// The simulated flow computer with its endpoints: a pseudo-terminal or serial
// device, Modbus TCP, RTU over TCP and a control socket, all served by one
// I/O thread. Every accessor is safe to call from other threads.
class Simulator {
  public:
    explicit Simulator(SimulatorOptions options);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens every endpoint and starts the I/O thread; false with a reason
    // when an endpoint cannot be opened (nothing is left running then).
    bool Start(std::string* error);
    void Stop();

    std::string PtyPath() const;  // the slave side; changes after a close-pty fault
    int ModbusTcpPort() const { return tcp_port_; }
    int RtuTcpPort() const { return rtu_tcp_port_; }
    const std::string& ControlPath() const { return options_.control; }

    uint32_t Register(uint16_t address) const;
    void SetRegister(uint16_t address, uint32_t value);
    std::vector<uint8_t> FlashImage() const;
    // The flash of the unit at `unit` (the first unit's own address, or one
    // of more_units); empty for no such unit.
    std::vector<uint8_t> FlashImageOf(uint8_t unit) const;
    bool WriteFlashImage(const std::string& path, std::string* error) const;
    std::vector<LoggedRequest> Requests() const;
    void ClearRequests();
    void AddFault(const FaultRule& rule);
    bool AddFault(const std::string& text, std::string* error);
    void ClearFaults();
    bool InDownloadMode() const;
    // Silent for the reset that follows leaving download mode.
    bool Resetting() const;
    LineSettings Line() const;

    // The control channel's language: one command line in, one line out
    // ("ok ..." or "error ...").
    std::string Command(const std::string& line);

  private:
    using Clock = std::chrono::steady_clock;
    struct Endpoint;
    struct Outgoing;

    bool OpenPty(std::string* error);
    bool OpenDevice(std::string* error);
    bool Listen(int port, Transport transport, int* bound_port, std::string* error);
    bool ListenControl(std::string* error);
    void CloseAll();
    void Run();
    timespec PollTimeout(Clock::time_point now) const;
    void OnReadable(Endpoint& endpoint, Clock::time_point now);
    void Accept(Endpoint& listener);
    // When a connection that stays silent is closed; none for the others.
    std::optional<Clock::time_point> IdleDeadline(const Endpoint& endpoint) const;
    void CloseIfIdle(Endpoint& endpoint, Clock::time_point now);
    void ReadSerial(Endpoint& endpoint, Clock::time_point now);
    void ReadStream(Endpoint& endpoint, Clock::time_point now);
    void ReadControl(Endpoint& endpoint);
    void ServeFrames(Endpoint& endpoint, Clock::time_point now);
    void Dispatch(Endpoint& endpoint, const Frame& frame, Clock::time_point now);
    // The unit on the endpoints that takes the request, and how; none when
    // every unit ignores it.
    UnitModel* Addressee(Transport transport, const Request& request,
                         Addressing& addressing);
    void Schedule(Endpoint& endpoint, std::vector<uint8_t> bytes, Clock::time_point start,
                  int split_size, int split_gap_ms, int baud);
    void Flush(Endpoint& endpoint, Clock::time_point now);
    bool SerialLineMatches(int fd) const;
    void ClosePty(Clock::time_point now);
    void ApplyDeviceLine();
    Endpoint* SerialEndpoint();

    SimulatorOptions options_;
    mutable std::mutex mutex_;  // guards the model, faults, requests and pty path
    UnitModel model_;
    std::vector<UnitModel> neighbours_;  // more_units, sharing the endpoints
    FaultTable faults_;
    std::vector<LoggedRequest> requests_;
    std::string pty_path_;
    TrafficLog log_;

    std::vector<std::unique_ptr<Endpoint>> endpoints_;
    int wake_pipe_[2] = {-1, -1};
    int tcp_port_ = kNoPort;
    int rtu_tcp_port_ = kNoPort;
    Clock::time_point serial_idle_until_{};
    Clock::time_point pty_reopen_at_{};
    bool pty_reopen_pending_ = false;
    // What this run made, and only that, is removed when it ends.
    bool link_made_ = false;
    bool control_made_ = false;
    Clock::time_point accept_paused_until_{};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace fc::sim
