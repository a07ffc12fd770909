#pragma once

#include <string>
#include <vector>

namespace fc::test {

// Runs Debian's tshark over a capture file and returns the fields asked for,
// one row per packet that passes the display filter. tshark reads files the
// same way for root and for anyone else (as root it only warns, on standard
// error, which is dropped); -n keeps it off the network.
std::vector<std::vector<std::string>> TsharkFields(const std::string& capture,
                                                   const std::vector<std::string>& options,
                                                   const std::string& filter,
                                                   const std::vector<std::string>& fields);

}  // namespace fc::test
