#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>

#include "link/serial_control.h"
#include "link/window_port.h"
#include "model/presentation.h"

namespace orvale::test {

/// The window as the receiver sees it, minus the widgets: every evaluation of the model goes
/// into a presentation. For the benchmark and the fuzz target of the receive path.
class HeadlessWindow final : public link::WindowPort {
public:
    void pullFields() override {}
    void pushFields() override {}
    void enableControl(int, bool) override {}
    void restartWatchdog(unsigned) override {}
    void stopWatchdog() override {}
    void disconnectDevice() override {
        state.portOpen = false;
        state.productId = 0;
    }
    void storePortFile() override {}
    void setSliderPosition(double position) override { slider = position; }
    void evaluateModel(std::uint8_t position) override {
        const model::PresentationInputs inputs{fields.modelName, fields.serialNumber,
                                               fields.vinStyle, fields.clockText};
        model::evaluate(position, state.productId, inputs, vin, presentation);
        ++evaluations;
    }
    void showMessage(std::string_view, link::MessageIcon) override {}

    link::ConnectionState state;
    link::WindowFields fields;
    model::VinBuffer vin;
    model::Presentation presentation;
    double slider = 0;
    std::size_t evaluations = 0;
};

/// A serial control that is open and delivers nothing: bytes are handed to the receiver
/// directly.
class NoSerial final : public link::SerialControl {
public:
    void SetCommPort(short) override {}
    void SetInputLen(short) override {}
    bool GetPortOpen() override { return true; }
    void SetPortOpen(bool) override {}
    void SetRThreshold(short) override {}
    void SetSettings(std::string_view) override {}
    void SetOutput(std::span<const std::uint8_t>) override {}
    std::span<const std::uint8_t> GetInput() override { return {}; }
    short GetCommEvent() override { return link::comm_event::kReceive; }
    void SetInputMode(long) override {}
};

/// A serial control that is open and delivers, at each read of Input, what the caller put in
/// `next`: bytes reach the device session through its receive event as they would from a port.
class FeedSerial final : public link::SerialControl {
public:
    void SetCommPort(short) override {}
    void SetInputLen(short) override {}
    bool GetPortOpen() override { return open; }
    void SetPortOpen(bool value) override { open = value; }
    void SetRThreshold(short) override {}
    void SetSettings(std::string_view) override {}
    void SetOutput(std::span<const std::uint8_t>) override {}
    std::span<const std::uint8_t> GetInput() override { return std::exchange(next, {}); }
    short GetCommEvent() override { return commEvent; }
    void SetInputMode(long) override {}

    std::span<const std::uint8_t> next;
    short commEvent = link::comm_event::kReceive;
    bool open = false;
};

}  // namespace orvale::test
