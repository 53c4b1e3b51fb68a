#include "ui/dialog_units.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontMetrics>

namespace orvale::ui {
namespace {

struct UnitsCase {
    int charWidth;
    int charHeight;
    int units;
    int pixelsX;
    int pixelsY;
};

class DialogUnitsConversion : public ::testing::TestWithParam<UnitsCase> {};

TEST_P(DialogUnitsConversion, ScalesByAQuarterCharacterAcrossAndAnEighthDown) {
    const UnitsCase& c = GetParam();
    const DialogUnits units(c.charWidth, c.charHeight);
    EXPECT_EQ(units.toPixelsX(c.units), c.pixelsX);
    EXPECT_EQ(units.toPixelsY(c.units), c.pixelsY);
}

INSTANTIATE_TEST_SUITE_P(
    Fonts, DialogUnitsConversion,
    ::testing::Values(UnitsCase{6, 13, 4, 6, 7},                               // 6.5 rounds up
                      UnitsCase{6, 13, 8, 12, 13}, UnitsCase{6, 13, 1, 2, 2},  // 1.5 and 1.625
                      UnitsCase{6, 13, 3, 5, 5},                               // 4.5 and 4.875
                      UnitsCase{6, 13, 718, 1077, 1167},
                      UnitsCase{6, 13, 463, 695, 752},  // 694.5 and 752.375
                      UnitsCase{7, 15, 718, 1257, 1346}, UnitsCase{7, 15, 0, 0, 0},
                      UnitsCase{5, 12, -10, -13, -15}));  // -12.5 rounds away from zero

TEST(DialogUnits, ConvertsEachEdgeOfABoxOnItsOwn) {
    const DialogUnits units(6, 13);
    // x and width round separately, as the platform lays out templates: 1.5 + 1.5 gives 4.
    EXPECT_EQ(units.toPixels(DluRect{1, 1, 1, 1}), QRect(2, 2, 2, 2));
    EXPECT_EQ(units.toPixels(QSize(718, 463)), QSize(1077, 752));
}

TEST(DialogUnits, RegressionDegenerateFontStillGivesUsableUnits) {
    const DialogUnits units(0, 0);
    EXPECT_EQ(units.averageCharWidth(), 1);
    EXPECT_EQ(units.charHeight(), 1);
}

TEST(DialogUnits, BaseUnitsOfAFontFollowItsSize) {
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(11);
    QFont large(small);
    large.setPixelSize(22);
    const DialogUnits a{QFontMetrics(small)};
    const DialogUnits b{QFontMetrics(large)};
    EXPECT_EQ(a.charHeight(), QFontMetrics(small).height());
    EXPECT_GT(a.averageCharWidth(), 3);
    EXPECT_LT(a.averageCharWidth(), a.charHeight());
    EXPECT_NEAR(b.averageCharWidth(), 2 * a.averageCharWidth(), 1);
}

}  // namespace
}  // namespace orvale::ui
