#pragma once

#include <QDialog>
#include <QIcon>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "link/protocol.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace orvale::ui {

/// What the main window hands the dialog when it opens it: copies, never references.
struct DeviceInfoInput {
    bool deviceIdentified = false;
    std::uint8_t productId = 0;
    std::uint16_t firmwareVersion = 0;  ///< version number: the reported version byte plus 1
    char revisionLetter = ' ';
    /// The character the main window's version text already holds in the hundreds position
    /// (a blank after connect); shown when the version number is below 100.
    char versionHundreds = ' ';
    std::uint32_t serialNumber = 0;
    std::string canBaudRateText;  ///< the device's reported rate, e.g. "250K bps"
    std::string vinStyleText;     ///< the device's reported style, "Fixed" or "Variable"
    QIcon icon;                   ///< the application icon
};

/// How the dialog closed. At most one flag is set: each confirm button closes the dialog.
struct DeviceInfoResult {
    bool accepted = false;  ///< closed by OK or a confirm button; false for Escape, close box
    bool canChangeConfirmed = false;
    bool vinChangeConfirmed = false;
    /// Texts of the lists' selections when accepted (empty when a list showed no item);
    /// otherwise the texts the dialog opened with.
    std::string canBaudRateChoice;
    std::string vinStyleChoice;
};

/// Items of the CAN baud rate list, in the list's order.
inline constexpr const auto& kCanBaudRateItems = link::kCanBaudRateChoices;
/// Items of the VIN style list, in the list's order.
inline constexpr const auto& kVinStyleItems = link::kVinStyleChoices;

/// Shown when the CAN baud rate may not be changed (the device's own wording).
inline constexpr std::string_view kCanBaudRateGateMessage =
    "To change the CAN bus baud rate, An Halvane Quennet device (with Firmware 0.3B/0.3C) must "
    "be connected to the conputer. If connected, the simulator must have a correct firmware of "
    "0.3B/0.3C, please contact Halvane and upgrade the simulator device to the correct fimware "
    "edition.";
/// Shown when the VIN style may not be changed.
inline constexpr std::string_view kVinStyleGateMessage =
    "To change the VIN Style, An Halvane Quennet device (with Firmware 0.3B/0.3C) must be "
    "connected to the conputer. If connected, the simulator must have a correct firmware of "
    "0.3B/0.3C, please contact Halvane and upgrade the simulator device to the correct fimware "
    "edition.";

/// The texts the dialog opens with: the model name ("Invalid ID!" outside 8 to 15) and the
/// five-character version text (" 0.3B") of an identified device; "Not Found Yet!" for both,
/// serial number 0 and empty choices otherwise.
struct DeviceInfoTexts {
    std::string modelName;
    std::string versionText;
    std::uint32_t serialNumber = 0;
    std::string canBaudRateChoice;
    std::string vinStyleChoice;
};
DeviceInfoTexts deviceInfoTexts(const DeviceInfoInput& input);

/// True when the settings may be changed (link::settingsChangeAllowed).
using link::settingsChangeAllowed;

/// The command the main window sends after the dialog: the CAN baud rate command for a
/// confirmed rate, the VIN style command for a confirmed style, nothing otherwise. After
/// sending it the main window settles and reconnects twice.
std::optional<std::string> settingsCommandFor(const DeviceInfoResult& result);

/// `CDeviceInfoDialog`: the device's identity and the two settings changes. Modal; laid out
/// from its template in dialog units, fixed size.
class CDeviceInfoDialog final : public QDialog {
    Q_OBJECT

public:
    /// Control IDs of the dialog's template.
    static constexpr int kOkButton = 1;
    static constexpr int kProductIdEdit = 1000;
    static constexpr int kFirmwareVersionEdit = 1020;
    static constexpr int kSerialNumberEdit = 1021;
    static constexpr int kProceedCanBaudRateButton = 1030;
    static constexpr int kConfirmCanBaudRateButton = 1031;
    static constexpr int kCanBaudRateList = 1032;
    static constexpr int kProceedVinStyleButton = 1033;
    static constexpr int kConfirmVinStyleButton = 1034;
    static constexpr int kVinStyleList = 1035;

    /// Shows a warning message box over `parent`; replaced in tests so nothing blocks.
    using WarningBox = std::function<void(QWidget* parent, const QString& text)>;

    /// Without `warningBox`, a modal message box with a warning icon and an OK button,
    /// captioned with the application name.
    explicit CDeviceInfoDialog(const DeviceInfoInput& input, QWidget* parent = nullptr,
                               WarningBox warningBox = {});

    /// How the dialog closed; meaningful once it has.
    [[nodiscard]] const DeviceInfoResult& outcome() const { return m_result; }

    /// The control with a template ID above; null for any other ID.
    [[nodiscard]] QWidget* control(int id) const;

    void accept() override;

private:
    void buildControls(const QIcon& icon);
    void proceed(QComboBox* list, QPushButton* confirm, std::string_view refusal);

    DeviceInfoResult m_result;
    bool m_deviceIdentified = false;
    std::string m_versionText;
    WarningBox m_warningBox;
    std::map<int, QWidget*> m_controls;
    QLineEdit* m_productIdEdit = nullptr;
    QLineEdit* m_versionEdit = nullptr;
    QLineEdit* m_serialNumberEdit = nullptr;
    QComboBox* m_canBaudRateList = nullptr;
    QComboBox* m_vinStyleList = nullptr;
    QPushButton* m_confirmCanBaudRate = nullptr;
    QPushButton* m_confirmVinStyle = nullptr;
};

/// Opens the dialog modally and returns how it closed.
DeviceInfoResult runDeviceInfoDialog(const DeviceInfoInput& input, QWidget* parent,
                                     CDeviceInfoDialog::WarningBox warningBox = {});

}  // namespace orvale::ui
