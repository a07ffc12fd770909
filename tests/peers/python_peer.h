#pragma once

#include <string>

#include "tests/support/temp_dir.h"

namespace fc::test {

// A pymodbus unit in a child process: "rtu" and "ascii" serve a socat pty
// pair (Device() is our end), "tcp" and "rtutcp" a loopback port (Port()).
class PymodbusPeer {
  public:
    explicit PymodbusPeer(const std::string& mode);
    ~PymodbusPeer();
    PymodbusPeer(const PymodbusPeer&) = delete;
    PymodbusPeer& operator=(const PymodbusPeer&) = delete;

    // Empty when the peer serves; otherwise why it could not be started (the
    // test skips with this text).
    const std::string& Missing() const { return missing_; }
    const std::string& Device() const { return ready_; }
    int Port() const { return std::stoi(ready_); }

  private:
    TempDir folder_{"fcloader-pymodbus"};
    std::string missing_;
    std::string ready_;
    int pid_ = -1;
};

}  // namespace fc::test
