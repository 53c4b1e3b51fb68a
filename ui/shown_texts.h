#pragma once

#include <string>
#include <vector>

#include "ui/control_catalogue.h"

namespace orvale::ui {

/// Every text a control of the main window can show, as it shows it: a button's or check box's
/// caption (without its "&" mnemonic), an LED's label, the port list's entries; for the
/// identity boxes the texts the device's answers can bring; for the parameter boxes and numeric
/// displays every text and number (at the display's decimals, with its units) the parameter
/// model gives at any position for the models whose broadcasts are shown, and what a teardown
/// leaves. Distinct texts, in no particular order. Plain C++: the window fits its fonts to
/// these, and tests check that each one fits.
[[nodiscard]] const std::vector<std::string>& textsShownBy(const ControlSpec& control);

/// The caption of a frame or a control without its "&" mnemonics ("&&" stands for "&").
[[nodiscard]] std::string withoutMnemonics(std::string_view caption);

}  // namespace orvale::ui
