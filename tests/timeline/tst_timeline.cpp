// TimeLine zoom and scroll rules, and the strips' position <-> row mapping.
#include "timeline/timeline.h"

#include <gtest/gtest.h>

#include <limits>

using namespace vorn;

namespace {
constexpr int32_t Int32Max = std::numeric_limits<int32_t>::max();

// Zoom 64 on 6,400 positions gives a span of 100.
TimeLine zoomedTo64(int32_t total = 6400)
{
    TimeLine timeLine;
    timeLine.setTotal(total);
    for (int i = 0; i < 6; ++i)
        timeLine.zoomIn();
    return timeLine;
}
} // namespace

TEST(TimeLine, ZoomKeepsTheCentreWithin1To64)
{
    TimeLine timeLine;
    timeLine.setTotal(1000);
    timeLine.zoomIn();
    EXPECT_EQ(timeLine.zoom(), 2);
    EXPECT_EQ(timeLine.span(), 500);
    EXPECT_EQ(timeLine.top(), 250);
    EXPECT_TRUE(timeLine.scrollBar().visible);
    timeLine.zoomOut();
    EXPECT_EQ(timeLine.zoom(), 1);
    EXPECT_EQ(timeLine.span(), 1000);
    EXPECT_EQ(timeLine.top(), 0);
    EXPECT_FALSE(timeLine.scrollBar().visible);
    timeLine.zoomOut();
    EXPECT_EQ(timeLine.zoom(), 1);

    TimeLine deep = zoomedTo64();
    const int32_t top = deep.top();
    deep.zoomIn();
    EXPECT_EQ(deep.zoom(), 64);
    EXPECT_EQ(deep.span(), 100);
    EXPECT_EQ(deep.top(), top + 25);  // top still moves by a quarter of the span

    // Zooming out at the end moves top back by half the old span, then recalc pulls it in.
    timeLine.zoomIn();
    timeLine.scrollTo(Int32Max);
    EXPECT_EQ(timeLine.top(), 500);  // recalc allows total - span
    timeLine.zoomOut();
    EXPECT_EQ(timeLine.top(), 0);

    // A shorter total pulls top back; a negative one counts as empty.
    deep.scrollTo(6300);
    deep.setTotal(3200);
    EXPECT_EQ(deep.span(), 50);
    EXPECT_EQ(deep.top(), 3150);
    deep.setTotal(-10);
    EXPECT_EQ(deep.span(), 0);
    EXPECT_EQ(deep.top(), 0);
}

TEST(TimeLine, ScrollCodesStopOneShortOfRecalc)
{
    TimeLine timeLine = zoomedTo64();
    timeLine.scrollTo(6250);
    EXPECT_FALSE(timeLine.scroll(ScrollCode::PageDown));
    EXPECT_EQ(timeLine.top(), 6299);  // total - span - 1, where recalc would allow 6300
    timeLine.scroll(ScrollCode::PageUp);
    timeLine.scroll(ScrollCode::LineUp);
    EXPECT_EQ(timeLine.top(), 6194);

    // The thumb at the very top (0) is ignored; the end of scrolling repaints the mark strips.
    EXPECT_FALSE(timeLine.scroll(ScrollCode::ThumbTrack, 0));
    EXPECT_EQ(timeLine.top(), 6194);
    timeLine.scroll(ScrollCode::ThumbTrack, 1234);
    EXPECT_EQ(timeLine.top(), 1234);
    timeLine.scroll(ScrollCode::ThumbPosition, 100000);
    EXPECT_EQ(timeLine.top(), 6299);
    EXPECT_TRUE(timeLine.scroll(ScrollCode::EndScroll));
    timeLine.scroll(ScrollCode::ThumbPosition, -7);
    EXPECT_EQ(timeLine.top(), 0);
}

TEST(TimeLine, WheelStepsAndClamps)
{
    TimeLine whole;
    whole.setTotal(1000);
    EXPECT_FALSE(whole.wheel(-120));
    EXPECT_EQ(whole.top(), 0);

    TimeLine timeLine = zoomedTo64();  // span 100: step 2
    timeLine.scrollTo(0);
    EXPECT_TRUE(timeLine.wheel(120));  // earlier at the very top: nothing
    EXPECT_EQ(timeLine.top(), 0);
    timeLine.wheel(0);  // zero counts as later
    EXPECT_EQ(timeLine.top(), 2);
    timeLine.scrollTo(6298);
    timeLine.wheel(-120);
    EXPECT_EQ(timeLine.top(), 6299);
    timeLine.scrollTo(6300);  // past the wheel's end: later does nothing
    timeLine.wheel(-120);
    EXPECT_EQ(timeLine.top(), 6300);

    TimeLine small = zoomedTo64(640);  // span 10: step at least 1
    small.scrollTo(1);
    small.wheel(120);
    EXPECT_EQ(small.top(), 0);
}

TEST(TimeLine, PositionsAndRowsRoundTruncateAndNeverDivideByZero)
{
    const StripView view{250, 500, 80, 100};
    EXPECT_EQ(view.posToY(502), 50);  // 50.4
    EXPECT_EQ(view.posToY(503), 51);  // 50.6
    EXPECT_EQ(view.posToY(240), -1);  // -2 + 0.5 truncates toward zero
    EXPECT_EQ(view.yToPos(1), 255);
    EXPECT_EQ(view.yToPos(100), 750);

    // An empty time line maps as if its span were 1; a strip without rows as if it had one.
    const StripView noSpan{0, 0, 80, 300};
    EXPECT_EQ(noSpan.posToY(1), 300);
    EXPECT_EQ(noSpan.yToPos(150), 0);
    const StripView noHeight{100, 1000, 80, 0};
    EXPECT_EQ(noHeight.posToY(600), 0);
    EXPECT_EQ(noHeight.yToPos(1), 1100);

    const StripView steep{0, 1, 1000, 1000};
    EXPECT_EQ(steep.posToY(Int32Max), Int32Max);
    EXPECT_EQ(steep.posToY(-Int32Max - 1), -Int32Max - 1);
    EXPECT_EQ((StripView{Int32Max - 10, 1000000, 80, 1}.yToPos(1)), Int32Max);
}

TEST(TimeLine, SelectionBandClampsToJustOutsideTheStrip)
{
    TimeLine timeLine;
    timeLine.setTotal(1000);
    EXPECT_TRUE(timeLine.selectionBand(timeLine.view(80, 100)).isEmpty());  // nothing selected

    timeLine.zoomIn();  // top 250, span 500
    const StripView view = timeLine.view(80, 100);
    timeLine.setSelection(200, 500);
    SelectionBand band = timeLine.selectionBand(view);
    EXPECT_EQ(band.y1, -1);
    EXPECT_EQ(band.y2, 50);
    timeLine.setSelection(600, 900);
    band = timeLine.selectionBand(view);
    EXPECT_EQ(band.y1, 70);
    EXPECT_EQ(band.y2, 100);
    timeLine.setSelection(750, 900);  // y1 exactly at the bottom edge
    EXPECT_TRUE(timeLine.selectionBand(view).isEmpty());
}
