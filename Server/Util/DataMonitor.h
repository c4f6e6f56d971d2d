// Where the protocol frames of blocks with "TracewellOn" go: the server's
// data-monitor connection registers itself here at start-up, and the data
// blocks (device-scan and completion threads) hand their frames to it. The
// configuration library knows nothing of COM; this is the one seam between
// the two.
#pragma once
#include <windows.h>
#include <atomic>

class IDataMonitor {
public:
    // A frame's bytes; direction 1 sent to the controller, 0 received.
    // Must not wait for the tool that shows the frames.
    virtual void Send(const BYTE *data, WORD length, int direction) = 0;

protected:
    ~IDataMonitor() = default;
};

namespace DataMonitor {

inline std::atomic<IDataMonitor *> g_sink{nullptr};

// Null removes the monitor; only one is registered at a time.
inline void Register(IDataMonitor *sink) { g_sink.store(sink); }

// Frames longer than a 16-bit length cannot be described to the tool and
// are cut there; the S7 frames are far shorter.
inline void Send(const BYTE *data, DWORD length, int direction)
{
    if (IDataMonitor *sink = g_sink.load())
        sink->Send(data, WORD(length > 0xFFFF ? 0xFFFF : length), direction);
}

} // namespace DataMonitor
