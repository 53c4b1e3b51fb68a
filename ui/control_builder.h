#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "ui/control_catalogue.h"
#include "ui/dialog_units.h"

namespace orvale::ui {

/// The controls made from the catalogue, by control ID: every control but the serial control.
/// All widgets are children of the parent given to buildControls(), which owns them.
using ControlMap = std::map<int, QWidget*>;

/// The control `id` of `map` as a `T` (QLineEdit, controls::CiAnalogDisplayX ...), or nullptr
/// when there is none or it is of another type.
template <class T>
[[nodiscard]] T* controlAs(const ControlMap& map, int id) {
    const auto found = map.find(id);
    return found == map.end() ? nullptr : qobject_cast<T*>(found->second);
}

/// Object names of the frames made by buildControls(), for findChild(): "labelFrame<ID>" for
/// the label frame of a box, "group<index in groups()>" for a group frame, "staticText<index in
/// staticTexts()>" for a static text. Controls are named "control<ID>".
[[nodiscard]] QString labelFrameName(int id);
[[nodiscard]] QString groupFrameName(std::size_t index);
[[nodiscard]] QString staticTextName(std::size_t index);
[[nodiscard]] QString controlName(int id);

/// The caption or label without its "&" mnemonic markers ("&&" stays one "&"), or the
/// control's unlabelled name: what screen readers call it.
[[nodiscard]] QString accessibleNameOf(const ControlSpec& control);

/// The port list's entries: "COM1" to "COM50".
[[nodiscard]] QStringList portNames();

/// Builds the whole catalogue into `parent` at the pixel positions `units` gives, in its
/// initial state:
/// - group frames (QGroupBox, caption left or centred) and, behind each edit and numeric
///   display, its label frame (QGroupBox with the label centred);
/// - read-only edits: controls::ReadOnlyBox, centred; numeric displays: CiAnalogDisplayX with
///   its UnitsText and Precision; LEDs: CiLedRectangleX with its CenterLabelText; the slider:
///   CiSliderX; push buttons (the default one marked default) and check boxes with their "&"
///   captions; the port list: a QComboBox holding portNames(), at its closed height;
/// - static texts: QLabel, widened within their group where the font needs more room than
///   the box ("note: axle location ..." does in most fonts).
/// The serial control gets no widget. Every control has its accessible name. Controls are
/// created after the frames, so they stack above them, and in catalogue order, which is the tab
/// order.
[[nodiscard]] ControlMap buildControls(QWidget* parent, const DialogUnits& units);

/// Where a widget of the catalogue stands, in dialog units, and every text it can show: what
/// laying the window out again at another size needs.
struct Placement {
    enum class Role : std::uint8_t { Control, LabelFrame, Group, StaticText };
    QWidget* widget = nullptr;
    Role role = Role::Control;
    DluRect box;
    ControlKind kind = ControlKind::ReadOnlyEdit;  ///< controls only
    GroupId group = GroupId::Common;               ///< static texts: the group they may run into
    QStringList texts;                             ///< captions, labels, and what boxes show
};

/// buildControls(), also listing every widget made, frames and static texts included.
[[nodiscard]] ControlMap buildControls(QWidget* parent, const DialogUnits& units,
                                       std::vector<Placement>& placements);

/// Puts every placed widget where `units` puts its box, shifted by `origin`. A static text
/// wider than its box in the font it has runs on towards the edge of its group.
void placeControls(const std::vector<Placement>& placements, const DialogUnits& units,
                   QPoint origin = {});

}  // namespace orvale::ui
