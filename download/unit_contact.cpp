#include "download/unit_contact.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

#include "connection/connection.h"
#include "download/loader.h"
#include "download/messages.h"
#include "modbus/messages.h"
#include "modbus/modbus_master.h"
#include "platform/scoped_value.h"
#include "platform/stop_request.h"
#include "platform/user_interface.h"

namespace fc {

namespace m = download_messages;

namespace {

// The caller's stop, or the one the driver is under (a window's Stop, the
// command line's signals): either ends the contact without a question.
bool Stopped(const ModbusMaster& master, const StopRequest* stop) {
    return master.StopRaised() || (stop != nullptr && stop->Raised());
}

bool QuietRead(ModbusMaster& master, int attempts, int& value, const StopRequest* stop) {
    return QuietReadRegister(master, kLoaderVersionRegister, attempts, value, stop);
}

int ParityCode(const CommSettings& settings) {
    return settings.Parity == 1 || settings.Parity == 2 ? settings.Parity : 0;
}

// Whether a request at a reaches the unit the way one at b does.
bool SameReach(const CommSettings& a, const CommSettings& b) {
    if (a.UnitId != b.UnitId || a.ModbusType != b.ModbusType)
        return false;
    return a.UseIP ||
           (BaudFromIndex(a.BaudRate) == BaudFromIndex(b.BaudRate) &&
            ParityCode(a) == ParityCode(b) && a.DataBits == b.DataBits && a.StopBits == b.StopBits);
}

// Where a loader listens, less the places the first contact has asked
// already: 9600 is where every loader starts, 38400 where version 2 stays
// after its speed change; a TCP connection carries any speed.
std::vector<CommSettings> LoaderPlaces(const CommSettings& user) {
    std::vector<CommSettings> places;
    for (const int baud_index : {kLoaderSlowBaudIndex, kLoaderFastBaudIndex}) {
        CommSettings place = user;
        ApplyLoaderSettings(place);
        place.BaudRate = baud_index;
        if (!SameReach(place, user) && (places.empty() || !SameReach(place, places.back())))
            places.push_back(place);
    }
    return places;
}

std::optional<UnitContact> SearchLoader(ModbusMaster& master, const CommSettings& user,
                                        const StopRequest* stop) {
    std::optional<UnitContact> found;
    master.Ui().SetStatusText(m::kLookingForLoader);
    for (const CommSettings& place : LoaderPlaces(user)) {
        int version = 0;
        if (ReopenAt(master, place) && QuietRead(master, kLoaderSearchAttempts, version, stop) &&
            version != 0) {
            found = UnitContact{UnitFound::Loader, version};
            break;
        }
        if (Stopped(master, stop))
            break;
    }
    if (!found)
        ReopenAt(master, user);
    master.Ui().SetStatusText("");
    return found;
}

}  // namespace

// One request per attempt, each with the question switched off (a negative
// Retry gives one attempt and never asks), so that a stop is seen between
// attempts and the question, where there is one, comes once, after them.
bool QuietReadRegister(ModbusMaster& master, int address, int attempts, int& value,
                       const StopRequest* stop) {
    const ScopedValue<int16_t> one_attempt(master.Settings().Retry, -1);
    bool answered = false;
    for (int i = 0; i < attempts && !answered && !Stopped(master, stop); ++i)
        answered = master.ReadRegister16(address, value) != 0;
    return answered;
}

UnitContact ContactUnit(ModbusMaster& master, const StopRequest* stop) {
    const CommSettings user = master.Settings();
    const int retry = std::min<int>(user.Retry, kMaxRetry);
    for (;;) {
        int value = 0;
        if (QuietRead(master, std::max(retry, 0) + 1, value, stop))
            return {value == 0 ? UnitFound::Application : UnitFound::Loader, value};
        // A search needs a line to search on: an open port, or a TCP
        // connection that the failed attempts could make again.
        if (!Stopped(master, stop) && LinkCarriesRequests(master)) {
            if (const auto found = SearchLoader(master, user, stop))
                return *found;
        }
        if (Stopped(master, stop) || retry < 0 || !GateOpen(master))
            return {};
        const MessageBox box{modbus_messages::kUnableToConnect, "", MessageButtons::RetryCancel,
                             MessageIcon::Stop};
        if (master.Ui().ShowMessage(box) != MessageAnswer::Retry)
            return {};
    }
}

std::string LoaderFoundText(int value) {
    char text[128];
    std::snprintf(text, sizeof text, m::kFoundInDownloadMode, value,
                  value == kLoaderVersion2 ? kLoaderVersion2 : 1);
    return text;
}

// A test only asks: the loader's settings are for the download that follows,
// so the user's own are live again (the caller disconnects anyway).
bool ProbeUnitOrLoader(ModbusMaster& master, UnitContact* contact) {
    const CommSettings user = master.Settings();
    const UnitContact found = ContactUnit(master);
    if (contact != nullptr)
        *contact = found;
    if (found.found == UnitFound::Loader) {
        master.Settings() = user;
        master.Ui().ShowMessage(
            {LoaderFoundText(found.loader_version), "", MessageButtons::Ok, MessageIcon::Warning});
    }
    return found.found != UnitFound::Nothing;
}

}  // namespace fc
