#include "modbus/traffic_frame.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "modbus/comm_settings.h"

namespace fc {

namespace {

TrafficEndpoint EndpointOf(const sockaddr_storage& storage) {
    TrafficEndpoint end;
    if (storage.ss_family == AF_INET) {
        const auto& in = reinterpret_cast<const sockaddr_in&>(storage);
        end.family = AF_INET;
        std::memcpy(end.address.data(), &in.sin_addr, 4);
        end.port = ntohs(in.sin_port);
    } else if (storage.ss_family == AF_INET6) {
        const auto& in6 = reinterpret_cast<const sockaddr_in6&>(storage);
        end.family = AF_INET6;
        std::memcpy(end.address.data(), &in6.sin6_addr, 16);
        end.port = ntohs(in6.sin6_port);
    }
    return end;
}

using NameQuery = int (*)(int, sockaddr*, socklen_t*);

TrafficEndpoint SocketEnd(int socket, NameQuery query) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (query(socket, reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return {};
    return EndpointOf(storage);
}

}  // namespace

Framing FramingOf(const CommSettings& settings) {
    if (settings.UseIP)
        return settings.IPProtocol == 0 ? Framing::ModbusTcp : Framing::Encapsulated;
    return settings.ModbusType == kModbusAscii ? Framing::Ascii : Framing::Rtu;
}

TrafficFrame ObservedFrame(const CommSettings& settings, int socket, TrafficDirection direction,
                           std::span<const uint8_t> wire) {
    TrafficFrame frame;
    frame.time = std::chrono::system_clock::now();
    frame.framing = FramingOf(settings);
    frame.direction = direction;
    frame.wire.assign(wire.begin(), wire.end());
    if (settings.UseIP && socket >= 0) {
        frame.pc = SocketEnd(socket, getsockname);
        frame.unit = SocketEnd(socket, getpeername);
    }
    return frame;
}

TrafficObservers::Watch& TrafficObservers::Watch::operator=(Watch&& other) noexcept {
    if (this != &other) {
        Stop();
        owner_ = std::exchange(other.owner_, nullptr);
        ticket_ = other.ticket_;
    }
    return *this;
}

void TrafficObservers::Watch::Stop() {
    if (owner_)
        owner_->Remove(ticket_);
    owner_ = nullptr;
}

TrafficObservers::Watch TrafficObservers::Add(Observer observer) {
    const int ticket = next_ticket_++;
    observers_.emplace_back(ticket, std::move(observer));
    return Watch(this, ticket);
}

void TrafficObservers::Remove(int ticket) {
    std::erase_if(observers_, [ticket](const auto& entry) { return entry.first == ticket; });
}

// Over a copy: an observer may stop watching (its own or another's) while told.
void TrafficObservers::Notify(const TrafficFrame& frame) const {
    const auto observers = observers_;
    for (const auto& entry : observers)
        entry.second(frame);
}

}  // namespace fc
