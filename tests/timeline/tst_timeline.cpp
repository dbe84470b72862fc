// TimeLine zoom and scroll rules, and the strips' position <-> row mapping.
#include "timeline/timeline.h"

#include <gtest/gtest.h>

#include <limits>

using namespace vorn;

namespace {
// Zoom 64 on 6,400 positions gives a span of 100.
TimeLine zoomedTo64(int32_t total = 6400)
{
    TimeLine timeLine;
    timeLine.setTotal(total);
    for (int i = 0; i < 6; ++i)
        timeLine.zoomIn();
    EXPECT_EQ(timeLine.zoom(), 64);
    return timeLine;
}
} // namespace

TEST(TimeLine, ZoomKeepsTheCentre)
{
    TimeLine timeLine;
    timeLine.setTotal(1000);
    EXPECT_EQ(timeLine.span(), 1000);
    EXPECT_EQ(timeLine.top(), 0);
    EXPECT_FALSE(timeLine.scrollBar().visible);

    timeLine.zoomIn();
    EXPECT_EQ(timeLine.zoom(), 2);
    EXPECT_EQ(timeLine.span(), 500);
    EXPECT_EQ(timeLine.top(), 250);
    const ScrollBarState bar = timeLine.scrollBar();
    EXPECT_TRUE(bar.visible);
    EXPECT_EQ(bar.maximum, 1000);
    EXPECT_EQ(bar.page, 500);
    EXPECT_EQ(bar.position, 250);

    timeLine.zoomOut();
    EXPECT_EQ(timeLine.zoom(), 1);
    EXPECT_EQ(timeLine.span(), 1000);
    EXPECT_EQ(timeLine.top(), 0);
}

TEST(TimeLine, ZoomStopsAt64AndAt1)
{
    TimeLine timeLine = zoomedTo64();
    const int32_t top = timeLine.top();
    timeLine.zoomIn();
    EXPECT_EQ(timeLine.zoom(), 64);
    EXPECT_EQ(timeLine.span(), 100);
    EXPECT_EQ(timeLine.top(), top + 25);  // top still moves by a quarter of the span

    TimeLine one;
    one.setTotal(1000);
    one.zoomOut();
    EXPECT_EQ(one.zoom(), 1);
    EXPECT_EQ(one.top(), 0);

    // Zooming out from the end: top moves back by half the old span, then recalc pulls it in.
    TimeLine two;
    two.setTotal(1000);
    two.zoomIn();
    two.scrollTo(500);
    EXPECT_EQ(two.top(), 500);
    two.zoomOut();
    EXPECT_EQ(two.top(), 0);
}

TEST(TimeLine, RecalcKeepsTopInsideTotal)
{
    TimeLine timeLine;
    timeLine.setTotal(1000);
    timeLine.zoomIn();
    timeLine.scrollTo(900);
    EXPECT_EQ(timeLine.top(), 500);  // total - span
    timeLine.scrollTo(-5);
    EXPECT_EQ(timeLine.top(), 0);
    timeLine.scrollTo(std::numeric_limits<int32_t>::max());
    EXPECT_EQ(timeLine.top(), 500);

    // A shorter total pulls top back; a negative one counts as empty.
    timeLine.scrollTo(400);
    timeLine.setTotal(600);
    EXPECT_EQ(timeLine.span(), 300);
    EXPECT_EQ(timeLine.top(), 300);
    timeLine.setTotal(-10);
    EXPECT_EQ(timeLine.total(), 0);
    EXPECT_EQ(timeLine.span(), 0);
    EXPECT_EQ(timeLine.top(), 0);

    // Reset leaves the span until the next total.
    timeLine.setTotal(1000);
    timeLine.resetView();
    EXPECT_EQ(timeLine.zoom(), 1);
    EXPECT_EQ(timeLine.top(), 0);
    EXPECT_EQ(timeLine.span(), 500);
    timeLine.setTotal(2000);
    EXPECT_EQ(timeLine.span(), 2000);
}

TEST(TimeLine, ScrollCodesStopOneShortOfRecalc)
{
    TimeLine timeLine = zoomedTo64();
    timeLine.scrollTo(6250);
    EXPECT_FALSE(timeLine.scroll(ScrollCode::PageDown));
    EXPECT_EQ(timeLine.top(), 6299);  // total - span - 1
    timeLine.scrollTo(6350);
    EXPECT_EQ(timeLine.top(), 6300);  // recalc allows total - span

    timeLine.scroll(ScrollCode::PageUp);
    EXPECT_EQ(timeLine.top(), 6200);
    timeLine.scroll(ScrollCode::LineUp);
    EXPECT_EQ(timeLine.top(), 6195);
    timeLine.scroll(ScrollCode::LineDown);
    timeLine.scroll(ScrollCode::LineDown);
    EXPECT_EQ(timeLine.top(), 6205);

    timeLine.scrollTo(50);
    timeLine.scroll(ScrollCode::PageUp);
    EXPECT_EQ(timeLine.top(), 0);
}

TEST(TimeLine, ThumbAtZeroIsIgnoredAndEndScrollRepaintsLinked)
{
    TimeLine timeLine = zoomedTo64();
    timeLine.scrollTo(3000);
    EXPECT_FALSE(timeLine.scroll(ScrollCode::ThumbTrack, 0));
    EXPECT_EQ(timeLine.top(), 3000);
    timeLine.scroll(ScrollCode::ThumbPosition, 0);
    EXPECT_EQ(timeLine.top(), 3000);
    timeLine.scroll(ScrollCode::ThumbTrack, 1234);
    EXPECT_EQ(timeLine.top(), 1234);
    timeLine.scroll(ScrollCode::ThumbPosition, 100000);
    EXPECT_EQ(timeLine.top(), 6299);
    EXPECT_TRUE(timeLine.scroll(ScrollCode::EndScroll));
    EXPECT_EQ(timeLine.top(), 6299);

    // At zoom 1 any scroll code leaves top at 0.
    TimeLine whole;
    whole.setTotal(1000);
    whole.scroll(ScrollCode::PageDown);
    EXPECT_EQ(whole.top(), 0);
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
    timeLine.wheel(-120);
    EXPECT_EQ(timeLine.top(), 2);
    timeLine.wheel(0);  // zero counts as later
    EXPECT_EQ(timeLine.top(), 4);
    timeLine.wheel(120);
    timeLine.wheel(120);
    EXPECT_EQ(timeLine.top(), 0);

    timeLine.scrollTo(6298);
    timeLine.wheel(-120);
    EXPECT_EQ(timeLine.top(), 6299);
    timeLine.wheel(-120);
    EXPECT_EQ(timeLine.top(), 6299);
    timeLine.scrollTo(6300);  // past the wheel's end: later does nothing
    timeLine.wheel(-120);
    EXPECT_EQ(timeLine.top(), 6300);

    TimeLine small = zoomedTo64(640);  // span 10: step at least 1
    small.scrollTo(1);
    small.wheel(120);
    EXPECT_EQ(small.top(), 0);
    small.wheel(-1);
    EXPECT_EQ(small.top(), 1);
}

TEST(TimeLine, PositionsAndRowsRoundAndTruncate)
{
    const StripView view{250, 500, 80, 100};
    EXPECT_EQ(view.posToY(250), 0);
    EXPECT_EQ(view.posToY(500), 50);
    EXPECT_EQ(view.posToY(502), 50);   // 50.4
    EXPECT_EQ(view.posToY(503), 51);   // 50.6
    EXPECT_EQ(view.posToY(240), -1);   // -2 + 0.5 truncates toward zero
    EXPECT_EQ(view.posToY(750), 100);
    EXPECT_EQ(view.yToPos(50), 500);
    EXPECT_EQ(view.yToPos(0), 250);
    EXPECT_EQ(view.yToPos(1), 255);
    EXPECT_EQ(view.yToPos(100), 750);
    EXPECT_TRUE(view.isLineVisible(0));
    EXPECT_TRUE(view.isLineVisible(100));
    EXPECT_FALSE(view.isLineVisible(-1));
    EXPECT_FALSE(view.isLineVisible(101));
}

TEST(TimeLine, EmptySpanOrHeightNeverDividesByZero)
{
    // An empty time line maps as if its span were 1; a strip without rows as if it had one.
    const StripView noSpan{0, 0, 80, 300};
    EXPECT_EQ(noSpan.posToY(0), 0);
    EXPECT_EQ(noSpan.posToY(1), 300);
    EXPECT_EQ(noSpan.yToPos(150), 0);
    const StripView noHeight{100, 1000, 80, 0};
    EXPECT_EQ(noHeight.posToY(600), 0);
    EXPECT_EQ(noHeight.yToPos(0), 100);
    EXPECT_EQ(noHeight.yToPos(1), 1100);
    EXPECT_FALSE(noHeight.isLineVisible(1));

    const StripView steep{0, 1, 1000, 1000};
    EXPECT_EQ(steep.posToY(std::numeric_limits<int32_t>::max()), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(steep.posToY(std::numeric_limits<int32_t>::min()), std::numeric_limits<int32_t>::min());
    const StripView far{std::numeric_limits<int32_t>::max() - 10, 1000000, 80, 1};
    EXPECT_EQ(far.yToPos(1), std::numeric_limits<int32_t>::max());
}

TEST(TimeLine, SelectionBandClampsToJustOutsideTheStrip)
{
    TimeLine timeLine;
    timeLine.setTotal(1000);
    const StripView view = timeLine.view(80, 100);
    EXPECT_TRUE(timeLine.selectionBand(view).isEmpty());  // (-1, -1): nothing selected

    timeLine.setSelection(200, 500);
    SelectionBand band = timeLine.selectionBand(view);
    EXPECT_EQ(band.y1, 20);
    EXPECT_EQ(band.y2, 50);

    timeLine.zoomIn();  // top 250, span 500
    band = timeLine.selectionBand(timeLine.view(80, 100));
    EXPECT_EQ(band.y1, -1);
    EXPECT_EQ(band.y2, 50);

    timeLine.setSelection(600, 900);
    band = timeLine.selectionBand(timeLine.view(80, 100));
    EXPECT_EQ(band.y1, 70);
    EXPECT_EQ(band.y2, 100);
    timeLine.setSelection(750, 900);  // y1 exactly at the bottom edge
    band = timeLine.selectionBand(timeLine.view(80, 100));
    EXPECT_EQ(band.y1, 100);
    EXPECT_TRUE(band.isEmpty());
}

TEST(TimeLine, TimeText)
{
    EXPECT_EQ(formatTimeText(0), "00:00.000");
    EXPECT_EQ(formatTimeText(61234), "01:01.234");
    EXPECT_EQ(formatTimeText(3600000), "60:00.000");
}
