#include "ui/device_info_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <map>
#include <memory>
#include <vector>

using orvale::ui::CDeviceInfoDialog;
using orvale::ui::DeviceInfoInput;
using orvale::ui::DeviceInfoResult;

namespace {

using Dialog = CDeviceInfoDialog;

DeviceInfoInput identifiedDevice(std::uint16_t version = 3, char revision = 'B') {
    DeviceInfoInput input;
    input.deviceIdentified = true;
    input.productId = 9;
    input.firmwareVersion = version;
    input.revisionLetter = revision;
    input.serialNumber = 2012;
    input.canBaudRateText = "500K bps";
    input.vinStyleText = "Fixed";
    return input;
}

QString q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

class DeviceInfoDialogTest : public ::testing::Test {
protected:
    Dialog& open(const DeviceInfoInput& input) {
        m_messages.clear();
        m_dialog = std::make_unique<Dialog>(
            input, nullptr, [this](QWidget*, const QString& text) { m_messages.push_back(text); });
        m_dialog->show();
        return *m_dialog;
    }
    [[nodiscard]] QPushButton* button(int id) const {
        return qobject_cast<QPushButton*>(m_dialog->control(id));
    }
    [[nodiscard]] QComboBox* list(int id) const {
        return qobject_cast<QComboBox*>(m_dialog->control(id));
    }
    [[nodiscard]] QString text(int id) const {
        return qobject_cast<QLineEdit*>(m_dialog->control(id))->text();
    }
    [[nodiscard]] bool groupOpen(int listId, int confirmId) const {
        return list(listId)->isEnabled() && button(confirmId)->isEnabled();
    }

    std::unique_ptr<Dialog> m_dialog;
    std::vector<QString> m_messages;
};

}  // namespace

TEST_F(DeviceInfoDialogTest, OpeningTexts) {
    struct Case {
        DeviceInfoInput input;
        const char* model;
        const char* version;
        const char* serial;
        int canIndex;  // -1: no item shown
        int vinIndex;
    };
    auto withId = [](std::uint8_t id) {
        auto input = identifiedDevice();
        input.productId = id;
        return input;
    };
    auto notIdentified = identifiedDevice();
    notIdentified.deviceIdentified = false;
    auto unknownTexts = identifiedDevice(10, 'C');
    unknownTexts.canBaudRateText = "300K bps";
    unknownTexts.vinStyleText = "fixed";
    unknownTexts.serialNumber = 4294967295u;
    auto largeVersion = identifiedDevice(123, 'C');
    largeVersion.versionHundreds = 'X';
    auto heldHundreds = identifiedDevice(3, 'B');
    heldHundreds.versionHundreds = 'X';
    auto variable = withId(15);
    variable.canBaudRateText = "1M bps";
    variable.vinStyleText = "Variable";

    const Case cases[] = {
        {notIdentified, "Not Found Yet!", "Not Found Yet!", "0", -1, -1},
        {identifiedDevice(), "Quennet Basic Plus", " 0.3B", "2012", 1, 0},
        {variable, "Quennet Duo Plus", " 0.3B", "2012", 4, 1},
        {withId(7), "Invalid ID!", " 0.3B", "2012", 1, 0},
        {withId(16), "Invalid ID!", " 0.3B", "2012", 1, 0},
        {unknownTexts, "Quennet Basic Plus", " 1.0C", "4294967295", -1, -1},
        {largeVersion, "Quennet Basic Plus", "12.3C", "2012", 1, 0},
        {heldHundreds, "Quennet Basic Plus", "X0.3B", "2012", 1, 0},
    };
    for (const Case& c : cases) {
        open(c.input);
        EXPECT_EQ(text(Dialog::kProductIdEdit), QString::fromUtf8(c.model));
        EXPECT_EQ(text(Dialog::kFirmwareVersionEdit), QString::fromUtf8(c.version));
        EXPECT_EQ(text(Dialog::kSerialNumberEdit), QString::fromUtf8(c.serial));
        EXPECT_EQ(list(Dialog::kCanBaudRateList)->currentIndex(), c.canIndex) << c.version;
        EXPECT_EQ(list(Dialog::kVinStyleList)->currentIndex(), c.vinIndex) << c.version;
    }
}

TEST_F(DeviceInfoDialogTest, FirmwareGate) {
    struct Case {
        bool identified;
        std::uint16_t version;
        char revision;
        char hundreds;
        bool passes;
    };
    const Case cases[] = {
        {false, 3, 'B', ' ', false}, {true, 3, 'B', ' ', true},    {true, 3, 'C', ' ', true},
        {true, 3, 'A', ' ', false},  {true, 10, 'C', ' ', false},  {true, 3, 'c', ' ', false},
        {true, 3, 'B', 'X', false},  {true, 103, 'B', ' ', false},
    };
    struct Group {
        int proceed;
        int list;
        int confirm;
        std::string_view message;
    };
    const Group groups[] = {
        {Dialog::kProceedCanBaudRateButton, Dialog::kCanBaudRateList,
         Dialog::kConfirmCanBaudRateButton, orvale::ui::kCanBaudRateGateMessage},
        {Dialog::kProceedVinStyleButton, Dialog::kVinStyleList, Dialog::kConfirmVinStyleButton,
         orvale::ui::kVinStyleGateMessage},
    };
    for (const Case& c : cases) {
        auto input = identifiedDevice(c.version, c.revision);
        input.deviceIdentified = c.identified;
        input.versionHundreds = c.hundreds;
        for (const Group& g : groups) {
            open(input);
            const auto trace = ::testing::Message() << c.version << c.revision << " " << g.proceed;
            button(g.proceed)->click();
            EXPECT_EQ(groupOpen(g.list, g.confirm), c.passes) << trace;
            if (c.passes) {
                EXPECT_TRUE(m_messages.empty()) << trace;
            } else {
                ASSERT_EQ(m_messages.size(), 1u) << trace;
                EXPECT_EQ(m_messages.front(), q(g.message)) << trace;
            }
            // Each Proceed opens its own group only.
            const Group& other = &g == &groups[0] ? groups[1] : groups[0];
            EXPECT_FALSE(groupOpen(other.list, other.confirm)) << trace;
            EXPECT_TRUE(m_dialog->isVisible()) << trace;
        }
    }
}

TEST_F(DeviceInfoDialogTest, ProceedingAgainChangesNothing) {
    open(identifiedDevice(3, 'C'));
    button(Dialog::kProceedCanBaudRateButton)->click();
    list(Dialog::kCanBaudRateList)->setCurrentIndex(2);
    button(Dialog::kProceedCanBaudRateButton)->click();
    EXPECT_TRUE(groupOpen(Dialog::kCanBaudRateList, Dialog::kConfirmCanBaudRateButton));
    EXPECT_EQ(list(Dialog::kCanBaudRateList)->currentIndex(), 2);
    EXPECT_TRUE(m_messages.empty());
    EXPECT_TRUE(m_dialog->isVisible());
}

TEST_F(DeviceInfoDialogTest, ConfirmClosesWithTheSelectedChoiceAndItsCommand) {
    struct Case {
        bool can;
        std::string reported;  // the device's text the dialog opens with
        int select;            // index chosen by the operator, -1 to leave as opened
        std::string choice;
        std::string command;
    };
    const Case cases[] = {
        {true, "500K bps", -1, "500K bps", "AT CBRS=03\r\n"},
        {true, "300K bps", -1, "", "AT CBRS=00\r\n"},
        {true, "250K bps", 4, "1M bps", "AT CBRS=04\r\n"},
        {true, "250K bps", 2, "62.5K bps", "AT CBRS=01\r\n"},
        {false, "Fixed", -1, "Fixed", "AT VIN=1\r\n"},
        {false, "Fixed", 1, "Variable", "AT VIN=0\r\n"},
        {false, "", -1, "", "AT VIN=0\r\n"},
    };
    for (const Case& c : cases) {
        auto input = identifiedDevice(3, 'B');
        (c.can ? input.canBaudRateText : input.vinStyleText) = c.reported;
        open(input);
        const int listId = c.can ? Dialog::kCanBaudRateList : Dialog::kVinStyleList;
        button(c.can ? Dialog::kProceedCanBaudRateButton : Dialog::kProceedVinStyleButton)->click();
        if (c.select >= 0) {
            list(listId)->setCurrentIndex(c.select);
        }
        button(c.can ? Dialog::kConfirmCanBaudRateButton : Dialog::kConfirmVinStyleButton)->click();

        const DeviceInfoResult& result = m_dialog->outcome();
        EXPECT_FALSE(m_dialog->isVisible()) << c.command;
        EXPECT_EQ(m_dialog->result(), QDialog::Accepted) << c.command;
        EXPECT_TRUE(result.accepted);
        EXPECT_EQ(result.canChangeConfirmed, c.can) << c.command;
        EXPECT_EQ(result.vinChangeConfirmed, !c.can) << c.command;
        EXPECT_EQ(c.can ? result.canBaudRateChoice : result.vinStyleChoice, c.choice);
        EXPECT_EQ(orvale::ui::settingsCommandFor(result), c.command);
    }
}

TEST_F(DeviceInfoDialogTest, OkEscapeAndCloseBoxSendNothing) {
    open(identifiedDevice());
    button(Dialog::kOkButton)->click();
    EXPECT_TRUE(m_dialog->outcome().accepted);
    EXPECT_FALSE(m_dialog->outcome().canChangeConfirmed || m_dialog->outcome().vinChangeConfirmed);
    EXPECT_EQ(m_dialog->outcome().canBaudRateChoice, "500K bps");
    EXPECT_EQ(orvale::ui::settingsCommandFor(m_dialog->outcome()), std::nullopt);

    open(identifiedDevice());
    button(Dialog::kProceedCanBaudRateButton)->click();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(m_dialog.get(), &escape);
    EXPECT_FALSE(m_dialog->isVisible());
    EXPECT_FALSE(m_dialog->outcome().accepted);
    EXPECT_EQ(orvale::ui::settingsCommandFor(m_dialog->outcome()), std::nullopt);

    open(identifiedDevice());
    m_dialog->close();
    EXPECT_EQ(m_dialog->result(), QDialog::Rejected);
    EXPECT_FALSE(m_dialog->outcome().accepted);

    // A flag without acceptance cannot come from the dialog, but must not send either.
    DeviceInfoResult cancelled;
    cancelled.canChangeConfirmed = true;
    EXPECT_EQ(orvale::ui::settingsCommandFor(cancelled), std::nullopt);
}

TEST_F(DeviceInfoDialogTest, TitleListsAndStatesOnOpening) {
    open(DeviceInfoInput{});
    EXPECT_EQ(m_dialog->windowTitle(), QStringLiteral("About Orvale V1.00A"));
    const auto items = [this](int id) {
        QStringList texts;
        for (int i = 0; i < list(id)->count(); ++i) texts << list(id)->itemText(i);
        return texts.join(QLatin1Char('|'));
    };
    EXPECT_EQ(items(Dialog::kCanBaudRateList),
              QStringLiteral("250K bps|500K bps|62.5K bps|125K bps|1M bps"));
    EXPECT_EQ(items(Dialog::kVinStyleList), QStringLiteral("Fixed|Variable"));
    for (const int id : {1, 1030, 1031, 1032, 1033, 1034, 1035}) {
        EXPECT_EQ(m_dialog->control(id)->isEnabled(), id == 1 || id == 1030 || id == 1033) << id;
    }
    EXPECT_TRUE(button(Dialog::kOkButton)->isDefault());
}

TEST_F(DeviceInfoDialogTest, LayoutIsFixedAndEveryControlIsNamedAndInside) {
    open(identifiedDevice());
    EXPECT_EQ(m_dialog->minimumSize(), m_dialog->maximumSize());
    const QRect client = m_dialog->rect();
    for (auto* widget : m_dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->metaObject()->className();
        EXPECT_FALSE(widget->accessibleName().contains(QLatin1Char('&')));
        EXPECT_TRUE(client.contains(widget->geometry())) << widget->accessibleName().toStdString();
    }
    // A font wider than the template's must not clip a caption.
    const QFontMetrics metrics = m_dialog->fontMetrics();
    for (const auto* pushButton : m_dialog->findChildren<QPushButton*>()) {
        EXPECT_LT(metrics.horizontalAdvance(pushButton->accessibleName()), pushButton->width() - 8)
            << pushButton->accessibleName().toStdString();
    }
    for (const auto* label : m_dialog->findChildren<QLabel*>()) {
        EXPECT_LE(metrics.horizontalAdvance(label->text()), label->width())
            << label->text().toStdString();
    }
    EXPECT_EQ(button(Dialog::kProceedCanBaudRateButton)->accessibleName(),
              QStringLiteral("Proceed to Change CAN Baud Rate"));
    // The confirm button sits to the right of the list, the list to the right of Proceed.
    EXPECT_LT(button(1030)->geometry().right(), list(1032)->geometry().left());
    EXPECT_LT(list(1032)->geometry().right(), button(1031)->geometry().left());
}

TEST_F(DeviceInfoDialogTest, ShowsTheVersionUnderTheNameWithoutMovingTheTemplate) {
    const QString testVersion = QCoreApplication::applicationVersion();
    const auto layout = [this] {
        std::map<QString, QRect> boxes;
        for (auto* widget : m_dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            boxes[widget->accessibleName()] = widget->geometry();
        }
        return boxes;
    };
    QCoreApplication::setApplicationVersion(QString());
    open(identifiedDevice());
    auto without = layout();
    const QSize size = m_dialog->size();
    EXPECT_EQ(without.count(QStringLiteral("Orvale")), 1u);

    for (const QString& version : {QStringLiteral("1.0.0"),
                                   // Far wider than the line: clipped, never widening.
                                   QStringLiteral("1.0.0+20240101.0123456789abcdef0123456789abcdef"
                                                  "0123456789abcdef0123456789abcdef")}) {
        QCoreApplication::setApplicationVersion(version);
        open(identifiedDevice());
        auto with = layout();
        const QString name = QStringLiteral("Version ") + version;
        ASSERT_EQ(with.count(name), 1u) << version.toStdString();
        const QRect line = with[name];
        const QRect fixed = with[QStringLiteral("Orvale")];
        EXPECT_EQ(line.left(), fixed.left());
        EXPECT_GT(line.top(), fixed.bottom()) << "under the fixed name";
        EXPECT_TRUE(m_dialog->rect().contains(line));
        with.erase(name);
        EXPECT_EQ(with, without) << "the template's controls moved";
        EXPECT_EQ(m_dialog->size(), size);
        EXPECT_EQ(m_dialog->windowTitle(), QStringLiteral("About Orvale V1.00A"));
    }
    QCoreApplication::setApplicationVersion(testVersion);
}

TEST(DeviceInfoDialogBoxes, RunsModallyAndWarnsCaptionedWithTheApplicationName) {
    // The real message box and the real modal run, closed from inside their own event loops.
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    const QString testName = QCoreApplication::applicationName();
    QCoreApplication::setApplicationName(QStringLiteral("Orvale"));
    DeviceInfoInput input;  // not identified: Proceed warns
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<CDeviceInfoDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            caption = box->windowTitle();
            icon = box->icon();
            box->accept();
        });
        qobject_cast<QPushButton*>(dialog->control(Dialog::kProceedVinStyleButton))->click();
        qobject_cast<QPushButton*>(dialog->control(Dialog::kOkButton))->click();
    });
    const DeviceInfoResult result = orvale::ui::runDeviceInfoDialog(input, nullptr);
    QCoreApplication::setApplicationName(testName);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(caption, QStringLiteral("Orvale"));
    EXPECT_EQ(icon, QMessageBox::Warning);
}
