#include "ui/device_info_dialog.h"

#include <qdrawutil.h>
#include <QComboBox>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStyle>

#include <algorithm>
#include <vector>

#include "link/protocol.h"
#include "link/window_port.h"
#include "ui/dialog_units.h"

namespace orvale::ui {

namespace {

using link::kNotFoundYet;
constexpr std::string_view kInvalidId = "Invalid ID!";

QString qText(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// A group box drawn the way the template's boxes were designed: the frame's top edge runs
/// through the middle of the caption. Styles such as Fusion put the caption above the frame,
/// which pushes the frame down onto the controls the template places just below its top.
class TemplateGroupBox final : public QGroupBox {
public:
    using QGroupBox::QGroupBox;

    /// Pixels between the frame's left edge and a left-aligned caption.
    [[nodiscard]] int captionIndent() const { return fontMetrics().averageCharWidth(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        const QFontMetrics metrics = fontMetrics();
        qDrawShadeRect(&painter, rect().adjusted(0, metrics.height() / 2, 0, 0), palette(), true, 1,
                       0);

        const QString caption = title();
        const int captionWidth = metrics.horizontalAdvance(caption);
        const int x =
            (alignment() & Qt::AlignHCenter) != 0 ? (width() - captionWidth) / 2 : captionIndent();
        const QRect captionRect(x, 0, captionWidth, metrics.height());
        const int gap = metrics.horizontalAdvance(QLatin1Char(' ')) / 2;
        painter.fillRect(captionRect.adjusted(-gap, 0, gap, 0), palette().window());
        style()->drawItemText(&painter, captionRect, Qt::AlignLeft | Qt::AlignVCenter, palette(),
                              isEnabled(), caption, QPalette::WindowText);
    }
};

/// The caption as a screen reader should say it: no mnemonic marker, no trailing blank.
QString accessibleNameOf(QString caption) { return caption.remove(QLatin1Char('&')).trimmed(); }

void selectItem(QComboBox* list, const std::string& text) {
    // No match selects nothing: the list then shows no item.
    list->setCurrentIndex(list->findText(QString::fromStdString(text), Qt::MatchExactly));
}

std::string selectedText(const QComboBox* list) {
    return list->currentIndex() < 0 ? std::string{} : list->currentText().toStdString();
}

void showWarningBox(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text,
                    QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace

DeviceInfoTexts deviceInfoTexts(const DeviceInfoInput& input) {
    DeviceInfoTexts texts;
    if (!input.deviceIdentified) {
        texts.modelName = kNotFoundYet;
        texts.versionText = kNotFoundYet;
        return texts;
    }
    texts.modelName = link::modelName(input.productId).value_or(kInvalidId);
    const auto version = link::firmwareVersionText(input.firmwareVersion, input.revisionLetter,
                                                   input.versionHundreds);
    texts.versionText.assign(version.begin(), version.end());
    texts.serialNumber = input.serialNumber;
    texts.canBaudRateChoice = input.canBaudRateText;
    texts.vinStyleChoice = input.vinStyleText;
    return texts;
}

std::optional<std::string> settingsCommandFor(const DeviceInfoResult& result) {
    if (!result.accepted) {
        return std::nullopt;
    }
    if (result.canChangeConfirmed) {
        return link::canBaudRateCommand(result.canBaudRateChoice);
    }
    if (result.vinChangeConfirmed) {
        return link::vinStyleCommand(result.vinStyleChoice);
    }
    return std::nullopt;
}

CDeviceInfoDialog::CDeviceInfoDialog(const DeviceInfoInput& input, QWidget* parent,
                                     WarningBox warningBox)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_deviceIdentified(input.deviceIdentified),
      m_warningBox(warningBox ? std::move(warningBox) : WarningBox(showWarningBox)) {
    setWindowTitle(QStringLiteral("About Orvale V1.00A"));
    buildControls(input.icon);

    const DeviceInfoTexts texts = deviceInfoTexts(input);
    m_versionText = texts.versionText;
    m_result.canBaudRateChoice = texts.canBaudRateChoice;
    m_result.vinStyleChoice = texts.vinStyleChoice;
    m_productIdEdit->setText(QString::fromStdString(texts.modelName));
    m_versionEdit->setText(QString::fromStdString(texts.versionText));
    m_serialNumberEdit->setText(QString::number(texts.serialNumber));
    selectItem(m_canBaudRateList, texts.canBaudRateChoice);
    selectItem(m_vinStyleList, texts.vinStyleChoice);
}

void CDeviceInfoDialog::buildControls(const QIcon& icon) {
    struct Placed {
        QWidget* widget;
        DluRect units;  // the template's box
        int textWidth;  // pixels the caption needs inside the box; 0 for none
    };
    std::vector<Placed> placed;
    const QFontMetrics metrics = fontMetrics();
    const auto plainWidth = [&](const QString& caption) {
        return metrics.horizontalAdvance(accessibleNameOf(caption));
    };

    const auto place = [&](QWidget* widget, int id, DluRect units, const QString& name,
                           int textWidth) {
        widget->setAccessibleName(accessibleNameOf(name));
        placed.push_back({widget, units, textWidth});
        if (id != 0) {
            m_controls[id] = widget;
        }
    };
    const auto addGroup = [&](const char* caption, DluRect units, bool centred) {
        auto* group = new TemplateGroupBox(QString::fromUtf8(caption), this);
        if (centred) {
            group->setAlignment(Qt::AlignHCenter);
        }
        place(group, 0, units, group->title(),
              plainWidth(group->title()) + 2 * group->captionIndent());
    };
    const auto addButton = [&](int id, const char* caption, DluRect units, bool enabled) {
        auto* button = new QPushButton(QString::fromUtf8(caption), this);
        button->setEnabled(enabled);
        const int padding = style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button) +
                            style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        place(button, id, units, button->text(), plainWidth(button->text()) + 2 * padding);
        return button;
    };
    const auto addReadOnlyEdit = [&](int id, const char* label, DluRect units) {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(true);
        edit->setAlignment(Qt::AlignCenter);
        place(edit, id, units, QString::fromUtf8(label), 0);
        return edit;
    };
    const auto addList = [&](int id, const char* name, const auto& items, DluRect units) {
        auto* list = new QComboBox(this);
        for (const std::string_view item : items) {
            list->addItem(qText(item));
        }
        list->setEnabled(false);
        place(list, id, units, QString::fromUtf8(name), 0);
        return list;
    };
    const auto addText = [&](const char* text, DluRect units) {
        auto* label = new QLabel(QString::fromUtf8(text), this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(label, 0, units, label->text(), plainWidth(label->text()));
    };

    // Creation order is the template's: it sets the tab order, and each group box lies
    // beneath the controls drawn over it.
    auto* iconLabel = new QLabel(this);
    iconLabel->setAlignment(Qt::AlignCenter);
    const DluRect iconUnits{10, 32, 20, 20};
    place(iconLabel, 0, iconUnits, QStringLiteral("Orvale icon"), 0);
    addText("Orvale ", {40, 10, 151, 8});
    // The release's version on the line under the fixed name, where the template has room.
    // Its width is left out of the caption fit, so that it never moves the template's controls.
    if (const QString version = QCoreApplication::applicationVersion(); !version.isEmpty()) {
        auto* label = new QLabel(QStringLiteral("Version %1").arg(version), this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        place(label, 0, {40, 20, 151, 8}, label->text(), 0);
    }
    auto* ok = addButton(kOkButton, "OK", {306, 29, 50, 14}, true);
    ok->setDefault(true);

    addGroup("Product Information", {18, 71, 344, 45}, false);
    addGroup("Product ID", {25, 79, 105, 33}, true);
    m_productIdEdit = addReadOnlyEdit(kProductIdEdit, "Product ID", {29, 92, 96, 14});
    addGroup("Firmware Version", {137, 79, 105, 33}, true);
    m_versionEdit = addReadOnlyEdit(kFirmwareVersionEdit, "Firmware Version", {141, 92, 96, 14});
    addGroup("Product Serial Number", {249, 79, 105, 33}, true);
    m_serialNumberEdit =
        addReadOnlyEdit(kSerialNumberEdit, "Product Serial Number", {253, 92, 96, 14});

    // The template's lists are 66 units tall with the drop-down open; closed they are as
    // tall as the buttons beside them.
    addGroup("Change CAN Baud Rate ", {18, 131, 344, 40}, true);
    addText("Note 1: FMS default CAN baud rate: 250K bps ", {27, 140, 149, 8});
    auto* proceedCan = addButton(kProceedCanBaudRateButton, "Proceed to &Change CAN Baud Rate",
                                 {24, 152, 126, 14}, true);
    m_canBaudRateList =
        addList(kCanBaudRateList, "CAN Baud Rate", kCanBaudRateItems, {160, 152, 77, 14});
    m_confirmCanBaudRate = addButton(kConfirmCanBaudRateButton, "C&onfirm Update CAN Baud Rate",
                                     {248, 152, 110, 14}, false);

    addGroup("Change VIN Style", {18, 189, 344, 28}, false);
    auto* proceedVin =
        addButton(kProceedVinStyleButton, "Proceed to Change VIN &Style", {24, 199, 126, 14}, true);
    m_vinStyleList = addList(kVinStyleList, "VIN Style", kVinStyleItems, {160, 199, 77, 14});
    m_confirmVinStyle =
        addButton(kConfirmVinStyleButton, "Co&nfirm Update VIN Style", {248, 199, 110, 14}, false);

    // The template was drawn for a narrow 8-point face; a font whose letters are wider than
    // its average suggests would clip the captions, so the horizontal unit grows until every
    // caption fits. Proportions stay the template's.
    int charWidth = DialogUnits(metrics).averageCharWidth();
    const auto captionsFit = [&](int width) {
        const DialogUnits candidate(width, metrics.height());
        return std::all_of(placed.begin(), placed.end(), [&](const Placed& p) {
            return candidate.toPixelsX(p.units.width) >= p.textWidth;
        });
    };
    while (!captionsFit(charWidth)) {
        ++charWidth;
    }
    const DialogUnits du(charWidth, metrics.height());
    for (const Placed& p : placed) {
        p.widget->setGeometry(du.toPixels(p.units));
    }
    const QRect iconBox = du.toPixels(iconUnits);
    const int iconSide = std::min(iconBox.width(), iconBox.height());
    iconLabel->setPixmap(icon.pixmap(iconSide, iconSide));
    // The template fixes the width; the height ends the groups' left margin below the last
    // group.
    setFixedSize(du.toPixels(QSize(381, 189 + 28 + 18)));

    connect(ok, &QPushButton::clicked, this, &CDeviceInfoDialog::accept);
    connect(proceedCan, &QPushButton::clicked, this,
            [this] { proceed(m_canBaudRateList, m_confirmCanBaudRate, kCanBaudRateGateMessage); });
    connect(proceedVin, &QPushButton::clicked, this,
            [this] { proceed(m_vinStyleList, m_confirmVinStyle, kVinStyleGateMessage); });
    connect(m_confirmCanBaudRate, &QPushButton::clicked, this, [this] {
        m_result.canChangeConfirmed = true;
        accept();
    });
    connect(m_confirmVinStyle, &QPushButton::clicked, this, [this] {
        m_result.vinChangeConfirmed = true;
        accept();
    });
}

void CDeviceInfoDialog::proceed(QComboBox* list, QPushButton* confirm, std::string_view refusal) {
    if (settingsChangeAllowed(m_deviceIdentified, m_versionText)) {
        list->setEnabled(true);
        confirm->setEnabled(true);
    } else {
        m_warningBox(this, qText(refusal));
    }
}

QWidget* CDeviceInfoDialog::control(int id) const {
    const auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

void CDeviceInfoDialog::accept() {
    m_result.accepted = true;
    m_result.canBaudRateChoice = selectedText(m_canBaudRateList);
    m_result.vinStyleChoice = selectedText(m_vinStyleList);
    QDialog::accept();
}

DeviceInfoResult runDeviceInfoDialog(const DeviceInfoInput& input, QWidget* parent,
                                     CDeviceInfoDialog::WarningBox warningBox) {
    CDeviceInfoDialog dialog(input, parent, std::move(warningBox));
    dialog.exec();
    return dialog.outcome();
}

}  // namespace orvale::ui
