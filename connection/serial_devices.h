#pragma once

#include <string>
#include <vector>

namespace fc {

class Profile;

// The serial devices a port number can be pointed at: the stable names of
// /dev/serial/by-id first (they survive re-plugging), then ttyS, ttyUSB and
// ttyACM in number order. The folder is a parameter for the tests.
std::vector<std::string> SerialDevicesPresent(const std::string& dev = "/dev");

// Points COM n at the device, in the "Ports" section the port resolver reads.
// The caller syncs the profile and reports a failure.
void StorePortDevice(Profile& profile, int port, const std::string& device);

}  // namespace fc
