#include "bus/expected_state.h"

#include <algorithm>

namespace orvale::bus {
namespace {

// Element of model::kTextDisplays for `id`.
std::string textOf(const session::Displays& displays, model::ControlId id) {
    const auto& entries = model::kTextDisplays;
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [id](const model::DisplayEntry& e) { return e.id == id; });
    if (it == entries.end()) return {};
    return displays.texts[static_cast<std::size_t>(it - entries.begin())];
}

}  // namespace

fms::DeviceState Expectation::deviceState() const noexcept {
    fms::DeviceState state;
    state.raw = raw;
    state.productId = productId;
    state.vin = vin;
    state.driver1Id = driver1Id;
    state.driver2Id = driver2Id;
    state.swVersion = swVersion;
    state.clock = clock;
    return state;
}

Expectation expectationOf(std::uint8_t position, std::uint8_t productId,
                          const session::Displays& displays) {
    Expectation e;
    e.position = position;
    e.productId = productId;
    e.raw = model::computeRawParameters(position, productId);
    e.vin = textOf(displays, model::control::kVehicleIdentificationNumber);
    e.driver1Id = textOf(displays, model::control::kDriver1Id);
    e.driver2Id = textOf(displays, model::control::kDriver2Id);
    e.swVersion = textOf(displays, model::control::kSwVersionSupported);
    // "2019/07/01/12:34:56": the device's time of day closes the date and time box.
    const std::string dateTime = textOf(displays, model::control::kDateTime);
    const std::size_t slash = dateTime.rfind('/');
    if (slash != std::string::npos) {
        e.clock = fms::parseClock(std::string_view(dateTime).substr(slash + 1));
    }
    return e;
}

std::optional<Expectation> expectationOf(const session::DeviceSession& session) {
    if (session.state() != session::SessionState::Connected || !session.positionKnown()) {
        return std::nullopt;
    }
    return expectationOf(session.evaluatedPosition(), session.connection().productId,
                         session.displays());
}

}  // namespace orvale::bus
