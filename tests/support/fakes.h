#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/serial_control.h"
#include "link/window_port.h"

namespace orvale::test {

/// A clock that advances by a fixed step every time it is read.
class SteppingClock final : public link::MillisecondClock {
public:
    explicit SteppingClock(std::uint32_t start = 1000, std::uint32_t step = 1)
        : m_now(start), m_step(step) {}
    std::uint32_t now() override {
        ++reads;
        const std::uint32_t t = m_now;
        m_now += m_step;
        return t;
    }
    void set(std::uint32_t t) { m_now = t; }
    [[nodiscard]] std::uint32_t peek() const { return m_now; }
    unsigned reads = 0;

private:
    std::uint32_t m_now;
    std::uint32_t m_step;
};

/// A serial control that records every property access, in order, as text, and every byte
/// written with the clock reading at the write.
class FakeSerialControl final : public link::SerialControl {
public:
    explicit FakeSerialControl(link::MillisecondClock* clock = nullptr) : m_clock(clock) {}

    void SetCommPort(short port) override {
        record("CommPort=" + std::to_string(port));
        fail("CommPort");
        commPort = port;
    }
    void SetInputLen(short length) override {
        record("InputLen=" + std::to_string(length));
        fail("InputLen");
    }
    bool GetPortOpen() override {
        record("PortOpen?");
        return stuckOpen || open;
    }
    void SetPortOpen(bool value) override {
        record(value ? "PortOpen=1" : "PortOpen=0");
        fail(value ? "PortOpen=1" : "PortOpen=0");
        open = value;
    }
    void SetRThreshold(short threshold) override {
        record("RThreshold=" + std::to_string(threshold));
        fail("RThreshold");
    }
    void SetSettings(std::string_view settings) override {
        record("Settings=" + std::string(settings));
        fail("Settings");
    }
    void SetOutput(std::span<const std::uint8_t> bytes) override {
        record("Output");
        fail("Output");
        for (const auto b : bytes) {
            written.push_back(static_cast<char>(b));
            writeTimes.push_back(m_clock ? m_clock->now() : 0);
        }
        writes.push_back(bytes.size());
    }
    std::span<const std::uint8_t> GetInput() override {
        record("Input?");
        fail("Input?");
        m_delivered.assign(input.begin(), input.end());
        input.clear();
        return m_delivered;
    }
    short GetCommEvent() override { return commEvent; }
    void SetInputMode(long mode) override {
        record("InputMode=" + std::to_string(mode));
        fail("InputMode");
    }

    /// Queues bytes for the next Input read.
    void queue(std::string_view bytes) { input.insert(input.end(), bytes.begin(), bytes.end()); }

    std::vector<std::string> calls;
    std::string written;
    std::vector<std::uint32_t> writeTimes;
    std::vector<std::size_t> writes;
    std::deque<std::uint8_t> input;
    short commEvent = link::comm_event::kReceive;
    short commPort = 0;
    bool open = false;
    bool stuckOpen = false;               ///< the control keeps reporting the port open
    std::string failOn;                   ///< the access that raises SerialError
    std::optional<std::string> failText;  ///< its text; "refused: <access>" by default
    std::function<void()> onRecord;

private:
    void record(std::string call) {
        calls.push_back(std::move(call));
        if (onRecord) onRecord();
    }
    void fail(const std::string& access) {
        if (access == failOn) throw link::SerialError(failText.value_or("refused: " + access));
    }
    link::MillisecondClock* m_clock;
    std::vector<std::uint8_t> m_delivered;
};

/// A window that holds the connection state and fields and records every call the link makes.
class RecordingWindow : public link::WindowPort {
public:
    void pullFields() override { calls.push_back("pull"); }
    void pushFields() override {
        calls.push_back("push");
        if (onPush) onPush();
    }
    void enableControl(int id, bool enable) override {
        enabled[id] = enable;
        calls.push_back((enable ? "enable " : "disable ") + std::to_string(id));
    }
    void restartWatchdog(unsigned periodMs) override {
        watchdogMs = periodMs;
        calls.push_back("watchdog " + std::to_string(periodMs));
    }
    void stopWatchdog() override {
        watchdogMs = 0;
        calls.push_back("watchdog stop");
    }
    void disconnectDevice() override {
        calls.push_back("disconnect");
        watchdogMs = 0;
        state.portOpen = false;
        state.productId = 0;
        state.firmwareVersion = 0;
        state.deviceIdentified = false;
        fields.modelName = link::kNotFoundYet;
    }
    void storePortFile() override {
        calls.push_back("store " + fields.portText);
        ++portFileStores;
    }
    void setSliderPosition(double position) override {
        slider = position;
        calls.push_back("slider " + std::to_string(static_cast<int>(position)));
    }
    void evaluateModel(std::uint8_t position) override {
        evaluated.push_back(position);
        calls.push_back("evaluate " + std::to_string(position));
    }
    void showMessage(std::string_view text, link::MessageIcon) override {
        messages.emplace_back(text);
        calls.push_back("message");
        if (duringMessage) duringMessage();
    }

    [[nodiscard]] bool has(std::string_view call) const {
        for (const auto& c : calls)
            if (c == call) return true;
        return false;
    }

    link::ConnectionState state;
    link::WindowFields fields;
    std::vector<std::string> calls;
    std::map<int, bool> enabled;
    unsigned watchdogMs = 0;
    unsigned portFileStores = 0;
    double slider = -1;
    std::vector<int> evaluated;
    std::vector<std::string> messages;
    std::function<void()> duringMessage;  ///< runs while the message box is "open"
    std::function<void()> onPush;
};

}  // namespace orvale::test
