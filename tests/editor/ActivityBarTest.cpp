#include "editor/xActivityBar.h"

#include <QImage>
#include <gtest/gtest.h>

namespace {

// Channel steps of exactly 20, 10 and 25 per band keep the expected colours free of rounding.
const QColor From(0, 0, 0);
const QColor To(200, 100, 250);

QColor Band(int i)
{
    return QColor(20 * i, 10 * i, 25 * i);
}

QImage Paint(TActivityBar &bar)
{
    return bar.grab().toImage();
}

struct TBar
{
    TActivityBar Bar;
    explicit TBar(bool horizontal)
    {
        Bar.SetFromColor(From);
        Bar.SetToColor(To);
        Bar.SetSteps(10);
        Bar.SetDirection(horizontal);
        Bar.resize(horizontal ? QSize(345, 17) : QSize(17, 345));
    }
    QColor At(int along) const
    {
        const QImage image = const_cast<TActivityBar &>(Bar).grab().toImage();
        return Bar.Direction() ? image.pixelColor(along, 8) : image.pixelColor(8, along);
    }
};

} // namespace

// 345 pixels, 10 steps: g = 17.25, bands 18 pixels wide (w + 1), each painted over the end of the
// one before. Band i starts at round(i * g) on the left and round((19 - i) * g) on the right.
TEST(ActivityBar, PaintsMirroredGradientAtRealValuedBandPositions)
{
    struct TRow
    {
        int Pixel;
        int BandIndex;
    };
    const TRow rows[] = {
        {0, 0},   {16, 0},  {17, 1}, // band 1 starts at round(17.25) = 17, overlapping band 0
        {85, 4},  {86, 5},           // round(5 * 17.25) = 86, where a whole-pixel g would give 85
        {160, 9},                    // the middle shows the last band
        {327, 1}, {330, 0}, {344, 0} // the right end mirrors the left, up to the last pixel
    };
    for (const bool horizontal : {true, false}) {
        TBar bar(horizontal);
        for (const TRow &row : rows)
            EXPECT_EQ(bar.At(row.Pixel), Band(row.BandIndex))
                << (horizontal ? "horizontal" : "vertical") << " pixel " << row.Pixel;
    }
}

TEST(ActivityBar, AdvancingPositionRunsTheGradientAlongTheStrip)
{
    TBar bar(true);
    bar.Bar.Advance();
    EXPECT_EQ(bar.Bar.Position(), 1);
    // Band 0 moves to 17 and its mirror to 0; band 1's mirror takes over the right end.
    EXPECT_EQ(bar.At(5), Band(0));
    EXPECT_EQ(bar.At(20), Band(0));
    EXPECT_EQ(bar.At(340), Band(1));

    for (int i = 1; i < 20; ++i)
        bar.Bar.Advance();
    EXPECT_EQ(bar.Bar.Position(), 0) << "2 * Steps positions make one turn";
    EXPECT_EQ(bar.At(340), Band(0));
}

TEST(ActivityBar, PositionStaysWithinOneTurn)
{
    TActivityBar bar;
    bar.SetSteps(10);
    const struct
    {
        int Set;
        int Expected;
    } rows[] = {{19, 19}, {20, 0}, {47, 7}, {-1, 19}};
    for (const auto &row : rows) {
        bar.SetPosition(row.Set);
        EXPECT_EQ(bar.Position(), row.Expected) << row.Set;
    }
    bar.SetPosition(15);
    bar.SetSteps(5);
    EXPECT_EQ(bar.Position(), 5) << "fewer steps fold the position into the shorter turn";
}

TEST(ActivityBar, WithoutStepsShowsFromColorInsteadOfDividingByZero)
{
    TActivityBar bar;
    bar.SetFromColor(From);
    bar.SetSteps(0);
    bar.resize(40, 10);
    bar.Advance();
    EXPECT_EQ(bar.Position(), 0);
    EXPECT_EQ(Paint(bar).pixelColor(39, 5), From);
}
