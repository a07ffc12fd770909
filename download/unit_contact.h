#pragma once

#include <string>

#include "modbus/comm_settings.h"

namespace fc {

class ModbusMaster;
class StopRequest;

enum class UnitFound { Nothing, Application, Loader };

// What the first contact with the unit found.
struct UnitContact {
    UnitFound found = UnitFound::Nothing;
    int loader_version = 0;  // register 2649 as the loader gave it
};

// Attempts per place where a loader may listen: a loader answers at once or
// not at all, and the box that follows a fruitless search offers Retry.
inline constexpr int kLoaderSearchAttempts = 2;

// The first contact of a download or a connection test over the link just
// opened, at the live settings: register 2649, with the attempts the Retry
// setting gives but without the "Unable to connect to Device!" question. A
// unit that answers runs its application (2649 reads 0) or its loader (any
// other value).
//
// When nothing answers, a unit left in download mode by an interrupted run
// is looked for where its loader listens (serial: unit 1, RTU 8N1 at 9600,
// then at 38400 for a version-2 loader past its speed change; TCP: unit 1).
// A loader found leaves its settings live, so a download goes on at them;
// the caller puts the user's own back when it is done (KeptSettings).
//
// Only when the search finds nothing either are the user's settings live
// again and the question asked, once for the whole contact: a user should
// not answer boxes before the search has been made, and a unit that is
// really absent gets the box a silent unit gets. Retry starts the whole contact
// again. The question is not asked where the transaction would not have
// asked it (no link open), nor once a stop has been asked for.
UnitContact ContactUnit(ModbusMaster& master, const StopRequest* stop = nullptr);

// "register 2649 reads 2: the unit answers as loader version 2, in download
// mode": no more than the read tells.
std::string LoaderFoundText(int value);

// Reads one 16-bit register in up to `attempts` single attempts that ask
// nobody and end on a stop; true when one was answered.
bool QuietReadRegister(ModbusMaster& master, int address, int attempts, int& value,
                       const StopRequest* stop = nullptr);

// Connect's probe for a connection test: the contact above; a unit found in
// its loader is told about and counts as answering, so the download that
// recovers it can be started. The user's settings stay live.
bool ProbeUnitOrLoader(ModbusMaster& master, UnitContact* contact = nullptr);

// The live settings for the time an object lives: a download or a search
// switches them to the loader's, and the user's own must be live again after
// it, whichever way it ended.
class KeptSettings {
  public:
    explicit KeptSettings(CommSettings& settings) : settings_(settings), kept_(settings) {}
    ~KeptSettings() { settings_ = kept_; }
    KeptSettings(const KeptSettings&) = delete;
    KeptSettings& operator=(const KeptSettings&) = delete;
    const CommSettings& Kept() const { return kept_; }

  private:
    CommSettings& settings_;
    CommSettings kept_;
};

}  // namespace fc
