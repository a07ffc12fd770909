#pragma once

#include <functional>

namespace fc {

class ModbusMaster;
struct CommSettings;

// The register read to see whether the unit answers.
inline constexpr int kProbeRegister = 2649;

// How long a re-open keeps trying a port that will not open (a USB adapter
// coming back after the unit's reset, say) before it gives up.
struct ReopenBound {
    int attempts = 50;
    int pauseMs = 100;
};

// The framing rule applied before every serial open: RTU always runs at no
// parity and 8 data bits; ASCII keeps what is set.
void SetSerialMode(CommSettings& settings, int mode);

// How Connect asks the unit over TCP whether it answers, once the socket is
// up. The default reads the probe register; the download asks in its own
// way, because a unit left in its loader answers at other settings.
using UnitProbe = std::function<bool(ModbusMaster&)>;

// Opens what the live settings describe and checks that the unit answers
// (serial: only when the port was already open). Shows the connection error
// box on failure. Sets OpenState to the result.
bool Connect(ModbusMaster& master, const UnitProbe& probe = {});
// Opens ComPort with the live line settings and sets the 20 ms read
// time-outs; the port is left closed or half-configured on failure, so the
// caller closes it.
bool OpenConfiguredPort(ModbusMaster& master);
void ClosePort(ModbusMaster& master);
void Disconnect(ModbusMaster& master);
// Returns OpenState: non-zero once the port is open.
int ReopenSerial(ModbusMaster& master, const ReopenBound& bound = {});
// Re-establishes the link after the unit reset into its loader.
bool Reconnect(ModbusMaster& master, const ReopenBound& bound = {});

// The link's state (LinkOpen, LinkState and the driver's OpenState) changes
// in this file and nowhere else: the operations above, and these.

// After a Connect whose probe told whether the unit answers: the link is up
// for the requests that follow, or down.
void NoteUnitAnswered(ModbusMaster& master, bool answered);
// Opens the serial line afresh at `settings`, made live, with the gate as it
// was; false (and the port closed) when it does not open.
bool ReopenAt(ModbusMaster& master, const CommSettings& settings);
// A run that knows its loader is there opens the serial gate itself after a
// Reconnect, and lets the next request find out.
void OpenGateForLoader(ModbusMaster& master);

// The link's state asked of the one place that writes it, so no caller
// combines the flags itself. Whether a transaction would go through its
// transport's gate (it may still find its port or socket gone).
bool GateOpen(ModbusMaster& master);
// Whether the link as it stands carries requests: the gate open and the
// port or the socket there.
bool LinkCarriesRequests(ModbusMaster& master);

// The link as carrying a firmware download (LinkState 3).
void MarkDownloading(ModbusMaster& master);

// Puts LinkState back as it was when the object was made, on every path.
class KeptLinkState {
  public:
    explicit KeptLinkState(ModbusMaster& master);
    ~KeptLinkState();
    KeptLinkState(const KeptLinkState&) = delete;
    KeptLinkState& operator=(const KeptLinkState&) = delete;

  private:
    ModbusMaster& master_;
    int kept_;
};

}  // namespace fc
