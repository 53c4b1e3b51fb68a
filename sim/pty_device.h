#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/device_bus.h"
#include "sim/quennet_device.h"

namespace orvale::sim {

/// What one read() from the line returned, and when (all bytes of a chunk share the time).
struct ReceivedChunk {
    std::chrono::steady_clock::time_point time;
    std::string bytes;
};

/// A `QuennetDevice` on a pseudo-terminal, served by a thread of its own.
///
/// Clients open `slavePath()` (or the symlink) as they would a serial port, and may close and
/// reopen it at will. Output is paced to 115200 baud 8N1. What nobody reads waits for the next
/// reader; once more than about 1 KiB waits, it is thrown away and waiting starts afresh.
/// `closeLine()` makes the port vanish under an open client, as a pulled USB adapter does.
///
/// Every public member may be called from any thread.
class PtyDevice {
public:
    /// Opens the first pseudo-terminal and starts the device. With a non-empty `linkPath`, a
    /// symlink there follows the current slave device (an existing non-symlink file is not
    /// replaced). Throws std::system_error when the terminal or the link cannot be made.
    explicit PtyDevice(DeviceConfig config = {}, std::string linkPath = {});
    /// Stops the thread, closes the line and removes the symlink.
    ~PtyDevice();

    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    /// The slave device, e.g. "/dev/pts/3"; empty while the line is closed.
    std::string slavePath() const;
    const std::string& linkPath() const { return m_linkPath; }

    /// True while the line exists (between `reopenLine()` and `closeLine()`).
    bool lineOpen() const;

    /// Closes the master: a client's open port reports hang-up, reads give end of file and
    /// writes fail; the device node and the symlink disappear. The device itself keeps running.
    /// Returns once done.
    void closeLine();
    /// Makes a fresh pseudo-terminal (closing the current one first, if any) and points the
    /// symlink at it. Returns once done; throws std::system_error on failure.
    void reopenLine();

    /// Bytes the device has read, by read() call, oldest first (the oldest are forgotten past
    /// 65536 chunks).
    std::vector<ReceivedChunk> received() const;
    /// The same bytes, run together.
    std::string receivedBytes() const;
    void clearReceived();

    /// Sees every chunk the device reads from the line, in order, before the device answers
    /// it. Runs on the device's thread with its lock held, so it must not call back into this
    /// object. An empty function sees nothing.
    using ReceiveObserver = std::function<void(std::string_view bytes)>;
    void setReceiveObserver(ReceiveObserver observer);

    CommandCounts commandCounts() const;
    DeviceState state() const;
    DeviceConfig config() const;
    Faults faults() const;
    void setFaults(Faults faults);
    unsigned broadcastRate() const;
    /// Clamped to 0..kMaxBroadcastRate.
    void setBroadcastRate(unsigned perSecond);
    void setPosition(std::uint8_t position);
    void setStatus(std::uint8_t status);

    /// What the device's CAN bus depends on, now: its position, identity, settings, clock
    /// and bus faults.
    BusInputs busInputs() const;
    /// Misbehaviour on the CAN bus, for whatever puts the device's frames there.
    CanFaults canFaults() const;
    void setCanFaults(CanFaults faults);

    /// Bytes written into the terminal for its readers.
    std::uint64_t bytesWritten() const;
    /// Bytes thrown away unread: stale, over a full terminal buffer, or sent while the line
    /// was closed.
    std::uint64_t bytesDiscarded() const;

private:
    enum class Request { None, Close, Reopen, Stop };

    void run();
    void request(Request what, std::unique_lock<std::mutex>& lock);
    void openPty();
    void closePty();
    void updateLink();
    void removeLink();
    void readMaster();
    void writeMaster(const std::string& bytes);
    void wake();

    mutable std::mutex m_mutex;
    std::condition_variable m_done;
    Request m_request = Request::None;
    std::uint64_t m_requestsIssued = 0;
    std::uint64_t m_requestsDone = 0;
    std::exception_ptr m_requestError;
    std::uint64_t m_errorTicket = 0;  // the request that m_requestError belongs to

    QuennetDevice m_device;
    const std::string m_linkPath;
    int m_master = -1;
    std::string m_slavePath;
    int m_slave = -1;  // our own, never read: keeps the terminal up between clients
    int m_wakeRead = -1;
    int m_wakeWrite = -1;

    CanFaults m_canFaults;
    std::deque<ReceivedChunk> m_received;
    ReceiveObserver m_receiveObserver;
    std::uint64_t m_bytesWritten = 0;
    std::uint64_t m_bytesDiscarded = 0;

    std::thread m_thread;  // last: starts after everything above exists
};

}  // namespace orvale::sim
