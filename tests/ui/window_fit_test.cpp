// Every text the main window can show fits its control: captions, group titles, labels, the
// texts of the status tables a box can show, the widest number a display can show. Run at the
// window's own size, at its smallest and at a large size, under every scale factor CTest runs
// it with (QT_SCALE_FACTOR 1, 1.25, 1.5 and 2).

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QScreen>

#include "controls/read_only_box.h"
#include "support/fakes.h"
#include "support/session_fakes.h"
#include "ui/main_dialog.h"
#include "ui/readable_palette.h"
#include "ui/shown_texts.h"
#include "ui/text_fit.h"
#include "widget_test_support.h"

namespace orvale::ui {
namespace {

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

class WindowFit : public ::testing::TestWithParam<double> {
protected:
    WindowFit() {
        window.setMessageBoxHandler([](const QString&, link::MessageIcon) {});
    }

    // Every placed widget checked against every text it can show, in the font it has now.
    std::vector<std::string> misfits() {
        std::vector<std::string> found;
        const auto note = [&](const QWidget* widget, const QString& shown) {
            found.push_back(widget->objectName().toStdString() + ": \"" + shown.toStdString() +
                            "\" in " + widget->font().toString().toStdString());
        };
        for (const Placement& placed : window.placements()) {
            const QFont font = placed.widget->font();
            if (font.pointSizeF() < kSmallestPointSize - 0.01)
                note(placed.widget, QStringLiteral("(font)"));
            switch (placed.role) {
                case Placement::Role::Control: {
                    const ControlSpec* entry = nullptr;
                    for (const ControlSpec& control : controls()) {
                        if (window.control(control.id) == placed.widget) entry = &control;
                    }
                    if (entry == nullptr) {
                        note(placed.widget, QStringLiteral("(not in the catalogue)"));
                        break;
                    }
                    for (const std::string& shown : textsShownBy(*entry)) {
                        if (!textFits(*placed.widget, entry->kind, text(shown), font))
                            note(placed.widget, text(shown));
                    }
                    // The box's own drawing agrees: nothing it can show is shortened.
                    if (auto* box = qobject_cast<controls::ReadOnlyBox*>(placed.widget)) {
                        const QString held = box->text();
                        for (const std::string& shown : textsShownBy(*entry)) {
                            box->setText(text(shown));
                            if (box->isElided())
                                note(placed.widget, text(shown) + QStringLiteral(" (elided)"));
                        }
                        box->setText(held);
                    }
                    break;
                }
                case Placement::Role::LabelFrame:
                case Placement::Role::Group: {
                    const auto* frame = static_cast<const QGroupBox*>(placed.widget);
                    if (!captionFits(*frame, frame->title(), font)) note(frame, frame->title());
                    break;
                }
                case Placement::Role::StaticText: {
                    const auto* label = static_cast<const QLabel*>(placed.widget);
                    if (!labelFits(label->width(), label->text(), font)) note(label, label->text());
                    break;
                }
            }
        }
        return found;
    }

    orvale::test::SteppingClock clock;
    orvale::test::FakeSerialControl serial{&clock};
    orvale::test::MemoryPortFile portFile;
    orvale::test::ManualWatchdogTimer timer;
    session::DeviceSession session{serial, clock, portFile, timer};
    CMainDialog window{session};
};

TEST_P(WindowFit, EveryTextFitsItsControl) {
    window.OnInitDialog();
    ASSERT_TRUE(test::showExposed(window));
    const QSize size = window.naturalSize() * GetParam();
    window.setMinimumSize(size.boundedTo(window.minimumSize()));
    window.resize(size);
    ASSERT_NEAR(window.layoutScale(), GetParam(), 0.01);
    const auto found = misfits();
    EXPECT_TRUE(found.empty()) << found.size() << " texts do not fit, the first:\n"
                               << (found.empty() ? "" : found.front()) << "\n"
                               << (found.size() > 1 ? found[1] : "");
}

// The window's own size, its smallest, and larger than the screen needs.
INSTANTIATE_TEST_SUITE_P(Sizes, WindowFit, ::testing::Values(1.0, CMainDialog::kSmallestScale, 1.5),
                         [](const auto& param) {
                             return "scale" + std::to_string(static_cast<int>(param.param * 100));
                         });

// A dark desktop palette whose disabled text is dim against its window colour, as such themes
// often have it (the check boxes are disabled until a device is connected).
QPalette darkDesktopPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(49, 54, 59));
    dark.setColor(QPalette::WindowText, QColor(239, 240, 241));
    dark.setColor(QPalette::Base, QColor(35, 38, 41));
    dark.setColor(QPalette::Text, QColor(239, 240, 241));
    dark.setColor(QPalette::Button, QColor(49, 54, 59));
    dark.setColor(QPalette::ButtonText, QColor(239, 240, 241));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        dark.setColor(QPalette::Disabled, role, QColor(98, 102, 106));
    }
    return dark;
}

TEST(WindowPalette, StaticTextsGroupTitlesAndCheckBoxesStayReadableOnADarkDesktop) {
    const QPalette before = QApplication::palette();
    QApplication::setPalette(darkDesktopPalette());
    {
        orvale::test::SteppingClock clock;
        orvale::test::FakeSerialControl serial{&clock};
        orvale::test::MemoryPortFile portFile;
        orvale::test::ManualWatchdogTimer timer;
        session::DeviceSession deviceSession{serial, clock, portFile, timer};
        CMainDialog window{deviceSession};
        std::vector<std::string> unreadable;
        for (QWidget* widget : window.findChildren<QWidget*>()) {
            if (!qobject_cast<QLabel*>(widget) && !qobject_cast<QGroupBox*>(widget) &&
                !qobject_cast<QCheckBox*>(widget))
                continue;
            const QPalette& p = widget->palette();
            const auto group = widget->isEnabled() ? QPalette::Active : QPalette::Disabled;
            const double least =
                widget->isEnabled() ? kReadableContrast : kReadableDisabledContrast;
            const double ratio = contrastRatio(p.color(group, widget->foregroundRole()),
                                               p.color(group, QPalette::Window));
            if (ratio < least) {
                unreadable.push_back(widget->objectName().toStdString() + " " +
                                     std::to_string(ratio));
            }
        }
        EXPECT_TRUE(unreadable.empty())
            << unreadable.size()
            << " unreadable, the first: " << (unreadable.empty() ? "" : unreadable.front());
        EXPECT_FALSE(window.control(model::control::kDynamic)->isEnabled())
            << "the check boxes were looked at disabled";
    }
    QApplication::setPalette(before);
}

}  // namespace
}  // namespace orvale::ui
