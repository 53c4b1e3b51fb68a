#include "sim/device_bus.h"

#include "bus/can_target.h"
#include "link/protocol.h"
#include "model/presentation.h"

namespace orvale::sim {

void encodeBusFrames(const BusInputs& inputs, fms::EncodedFrames& out) {
    // As the receiver names a product: an ID Orvale does not know is "Wrong ID".
    const std::string_view productText = link::modelName(inputs.productId).value_or("Wrong ID");
    const std::string_view vinStyle = link::vinStyleText(inputs.vinStyle).value_or("");
    const model::PresentationInputs presentationInputs{productText, inputs.serialNumber, vinStyle,
                                                       inputs.clockText};
    // Every evaluation rewrites the VIN characters that change, so a fresh buffer reads as the
    // window's long-lived one.
    model::VinBuffer vin;
    model::Presentation shown;
    const model::RawParameters raw = model::computeRawParameters(inputs.position, inputs.productId);
    model::present(raw, inputs.position, inputs.productId, presentationInputs, vin, shown);
    const fms::DeviceState state =
        fms::deviceStateOf(raw, inputs.productId, shown, model::swVersionFor(productText),
                           fms::parseClock(inputs.clockText));
    fms::encode(state, out);
    applyCanFaults(inputs.faults, state, out);
}

std::optional<std::uint32_t> bitrateOfBaudCode(int code) noexcept {
    // Any other code reads "invalid", which names no rate.
    return bus::bitrateOfBaudText(link::canBaudRateText(code));
}

}  // namespace orvale::sim
