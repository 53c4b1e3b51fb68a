#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "model/control_ids.h"

namespace orvale::ui {

/// A rectangle in dialog units: x and width in quarters of the dialog font's average character
/// width, y and height in eighths of its character height.
struct DluRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    [[nodiscard]] constexpr int right() const { return x + width; }    ///< one past the last unit
    [[nodiscard]] constexpr int bottom() const { return y + height; }  ///< one past the last unit
    [[nodiscard]] constexpr bool contains(const DluRect& inner) const {
        return inner.x >= x && inner.y >= y && inner.right() <= right() &&
               inner.bottom() <= bottom();
    }
    [[nodiscard]] constexpr bool intersects(const DluRect& other) const {
        return x < other.right() && other.x < right() && y < other.bottom() && other.y < bottom();
    }
    friend constexpr bool operator==(const DluRect&, const DluRect&) = default;
};

/// The main window: title, dialog font, client size in dialog units, default button and the
/// system menu entry that opens the device information dialog.
inline constexpr const char* kWindowTitle = "Orvale Ver. 1.00A, Build: 01072019-01";
inline constexpr const char* kWindowFontFamily = "MS Sans Serif";
inline constexpr int kWindowFontPointSize = 8;
inline constexpr int kWindowWidthDu = 718;
inline constexpr int kWindowHeightDu = 463;
inline constexpr DluRect kWindowBox{0, 0, kWindowWidthDu, kWindowHeightDu};
inline constexpr int kDefaultButtonId = model::control::kExit;  ///< "E&xit"
inline constexpr const char* kAboutMenuText = "&About Orvale...";
inline constexpr int kAboutCommandId = 16;

enum class ControlKind {
    ReadOnlyEdit,    ///< bordered, read-only, centred text; inside a label frame
    NumericDisplay,  ///< CiAnalogDisplayX; inside a label frame
    Led,             ///< CiLedRectangleX; label inside, no frame
    Slider,          ///< CiSliderX
    PushButton,
    DefaultPushButton,  ///< the button Enter runs unless another push button has the focus
    CheckBox,           ///< automatic: a click toggles the mark before it is handled
    DropDownList,       ///< not editable; its box height is the height of the open list
    SerialControl,      ///< the serial communications control; never visible, no widget
};

/// The group frames, outermost first. A control's group is the innermost frame holding it.
enum class GroupId {
    ControlPanel,   ///< "Control Panel"
    Connect,        ///< "Step 1: Connect to the Quennet", inside the control panel
    RemoteControl,  ///< "Step 2: Remote Control the Quennet", inside the control panel
    TruckOnly,      ///< "Quennet Truck only parameters"
    BusOnly,        ///< "Quennet Bus only parameters"
    Common,         ///< "Parameters for Bus and Quennet Truck-Standard"
};

enum class CaptionAlignment { Left, Centre };

struct GroupSpec {
    GroupId id;
    std::string_view caption;
    DluRect box;
    CaptionAlignment alignment;
    std::optional<GroupId> parent;  ///< the frame it sits in, if any
};

/// Marks a numeric display that keeps the widget's own default decimals.
inline constexpr int kDefaultDecimals = model::kDisplayDefaultDecimals;

struct ControlSpec {
    int id = 0;
    ControlKind kind = ControlKind::ReadOnlyEdit;
    /// The caption (buttons, check boxes, with their "&" mnemonics) or the label (edits,
    /// displays, LEDs) exactly as the window shows it; empty for the port list, the slider and
    /// the serial control.
    std::string_view label;
    /// A display's units text, with its leading blank (" km/hr"); empty for other kinds.
    std::string_view units;
    /// A display's decimals, or kDefaultDecimals; kDefaultDecimals for other kinds too.
    int decimals = kDefaultDecimals;
    bool enabled = true;  ///< at start
    bool visible = true;
    DluRect box;  ///< for the drop-down list, the box of the open list
    GroupId group = GroupId::Common;
    /// What screen readers call a control that shows no label ("Port", "Control position");
    /// empty for labelled controls.
    std::string_view unlabelledName;
};

struct StaticTextSpec {
    std::string_view text;
    DluRect box;
    GroupId group;
    int buddyId = 0;  ///< the control the text names ("Port:" the port list), 0 for none
};

/// Every control of the main window, group by group as the window is read: connect, remote
/// control, the common parameters, the truck and the bus parameters.
[[nodiscard]] std::span<const ControlSpec> controls();
/// The group frames, outermost first, in the order of GroupId.
[[nodiscard]] std::span<const GroupSpec> groups();
/// "Port:" and the note under the axle weights.
[[nodiscard]] std::span<const StaticTextSpec> staticTexts();

/// The control with `id`, or nullptr.
[[nodiscard]] const ControlSpec* findControl(int id);
/// The frame `id`.
[[nodiscard]] const GroupSpec& group(GroupId id);

/// Entries of the port list: "COM1" to "COM50", in that order.
inline constexpr int kPortCount = 50;

/// True for the kinds that sit in a label frame (read-only edits and numeric displays).
[[nodiscard]] constexpr bool hasLabelFrame(ControlKind kind) {
    return kind == ControlKind::ReadOnlyEdit || kind == ControlKind::NumericDisplay;
}

/// The label frame around a box: a small group box whose centred caption is the box's label,
/// 4 units left of it, 9 above, 8 wider, 26 high (its caption line takes the 9 units above).
/// Frames of rows 26 units apart touch without overlapping.
[[nodiscard]] constexpr DluRect labelFrame(const DluRect& box) {
    return {box.x - 4, box.y - 9, box.width + 8, 26};
}

/// Height of the drop-down list while it is closed, in dialog units.
inline constexpr int kClosedDropDownHeight = 14;

/// The box a control occupies on the window: its catalogue box, except the drop-down list,
/// which occupies only its closed height.
[[nodiscard]] constexpr DluRect occupiedBox(const ControlSpec& control) {
    if (control.kind != ControlKind::DropDownList) return control.box;
    return {control.box.x, control.box.y, control.box.width, kClosedDropDownHeight};
}

}  // namespace orvale::ui
