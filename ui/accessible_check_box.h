#pragma once

namespace orvale::ui {

/// Makes a screen reader's "Toggle" on a check box act as a click: the window's Dynamic and
/// Quiet boxes send their key command on click, and Qt's own accessible action only flips the
/// mark. Installed once for the whole program; idempotent.
void installCheckBoxAccessibility();

}  // namespace orvale::ui
