#include "ui/shown_texts.h"

#include <map>
#include <set>

#include "link/protocol.h"
#include "link/window_port.h"
#include "model/display_format.h"
#include "model/presentation.h"

namespace orvale::ui {
namespace {

namespace id = model::control;

// The models whose broadcasts are applied (and so whose parameters are shown), and the product
// ID 0 that a teardown evaluates with.
constexpr std::uint8_t kShownModels[] = {0, 9, 11, 13, 15};
// A firmware build text as a device sends it: 22 characters.
constexpr std::string_view kBuildText = "Quennet sim build 0001";

struct Sweep {
    std::map<int, std::set<std::string>> byControl;
};

// Every position the line can carry (the receiver passes 101 to 255 on unchecked) for every
// shown model, with the identity texts that feed the presentation.
Sweep sweepTheModel() {
    Sweep sweep;
    model::VinBuffer vin;
    model::Presentation presentation;
    const std::string_view clockTexts[] = {"", "23:59:59"};
    const std::string_view vinStyles[] = {"Variable", "Fixed", link::kNotFoundYet};
    for (const std::uint8_t productId : kShownModels) {
        const std::string_view product = link::modelName(productId).value_or(link::kNotFoundYet);
        for (const std::string_view clock : clockTexts) {
            for (const std::string_view style : vinStyles) {
                const model::PresentationInputs inputs{product, 4294967295u, style, clock};
                for (int position = 0; position <= 255; ++position) {
                    model::evaluate(static_cast<std::uint8_t>(position), productId, inputs, vin,
                                    presentation);
                    for (const auto& number : presentation.numbers) {
                        const ControlSpec* control = findControl(number.id);
                        const int decimals = model::shownDecimals(control->decimals);
                        std::string text = model::formatFixed(number.value, decimals);
                        text += control->units;
                        sweep.byControl[number.id].insert(std::move(text));
                    }
                    for (const auto& text : presentation.texts) {
                        if (!text.isWritten()) continue;
                        std::string shown(text.text());
                        // A single-line box shows no line end.
                        while (!shown.empty() && (shown.back() == '\n' || shown.back() == '\r'))
                            shown.pop_back();
                        sweep.byControl[text.id()].insert(std::move(shown));
                    }
                }
            }
        }
    }
    return sweep;
}

std::set<std::string> identityTexts(int controlId) {
    std::set<std::string> texts{std::string(link::kNotFoundYet)};
    switch (controlId) {
        case id::kProductId:
            texts.insert("Wrong ID");
            for (std::uint8_t productId = 8; productId <= 15; ++productId)
                texts.emplace(*link::modelName(productId));
            break;
        case id::kSerialNumber:
            texts.insert({"0", "4294967295"});
            break;
        case id::kFirmwareVersion:
            for (const int version : {1, 3, 10, 99, 100, 256}) {
                for (const char revision : {'A', 'B', 'C', 'W'}) {
                    const auto text = link::firmwareVersionText(static_cast<std::uint16_t>(version),
                                                                revision, ' ');
                    texts.emplace(text.data(), text.size());
                }
            }
            break;
        case id::kCanBaudRate:
            for (int code = 0; code <= 5; ++code) texts.emplace(link::canBaudRateText(code));
            break;
        case id::kVinStyle:
            texts.insert({"Variable", "Fixed"});
            break;
        case id::kFirmwareBuild:
            texts.emplace(kBuildText);
            break;
        default:
            break;
    }
    return texts;
}

}  // namespace

std::string withoutMnemonics(std::string_view caption) {
    std::string text;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        if (caption[i] == '&') {
            if (i + 1 < caption.size() && caption[i + 1] == '&') {
                text.push_back('&');
                ++i;
            }
            continue;
        }
        text.push_back(caption[i]);
    }
    return text;
}

const std::vector<std::string>& textsShownBy(const ControlSpec& control) {
    static const Sweep sweep = sweepTheModel();
    static std::map<int, std::vector<std::string>> cache;
    if (const auto it = cache.find(control.id); it != cache.end()) return it->second;

    std::set<std::string> texts;
    switch (control.kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
        case ControlKind::CheckBox:
        case ControlKind::Led:
            texts.insert(withoutMnemonics(control.label));
            break;
        case ControlKind::DropDownList:
            for (int port = 1; port <= kPortCount; ++port)
                texts.insert("COM" + std::to_string(port));
            break;
        case ControlKind::ReadOnlyEdit:
        case ControlKind::NumericDisplay: {
            texts = identityTexts(control.id);
            if (const auto it = sweep.byControl.find(control.id); it != sweep.byControl.end()) {
                texts.erase(std::string(link::kNotFoundYet));
                texts.insert(it->second.begin(), it->second.end());
                // A teardown blanks or empties the text boxes.
                if (control.kind == ControlKind::ReadOnlyEdit) texts.insert({" ", ""});
            }
            break;
        }
        case ControlKind::Slider:
        case ControlKind::SerialControl:
            break;
    }
    return cache.emplace(control.id, std::vector<std::string>(texts.begin(), texts.end()))
        .first->second;
}

}  // namespace orvale::ui
