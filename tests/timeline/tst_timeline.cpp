// TimeLine zoom and scroll rules, the strips' position <-> row mapping, and the time text.
#include "timeline/timeline.h"

#include <gtest/gtest.h>

#include <limits>

using namespace vorn;

namespace {
constexpr int32_t Max = std::numeric_limits<int32_t>::max();

enum class Do { Total, In, Out, To, Scroll, Wheel };
constexpr int32_t Any = std::numeric_limits<int32_t>::min();

// One step on a time line and what it leaves: top, span and zoom, and what the step returned
// (scroll: repaint the strips; wheel: handled); Any is not checked.
struct Step {
    Do what;
    int32_t arg = 0;
    int32_t top = Any, span = Any, zoom = Any, returned = Any;
    ScrollCode code = ScrollCode::EndScroll;
};

void run(std::initializer_list<Step> steps)
{
    TimeLine t;
    for (const Step &s : steps) {
        SCOPED_TRACE(testing::Message() << "step " << &s - steps.begin() + 1);
        int32_t returned = Any;
        switch (s.what) {
        case Do::Total: t.setTotal(s.arg); break;
        case Do::In: t.zoomIn(); break;
        case Do::Out: t.zoomOut(); break;
        case Do::To: t.scrollTo(s.arg); break;
        case Do::Scroll: returned = t.scroll(s.code, s.arg); break;
        case Do::Wheel: returned = t.wheel(s.arg); break;
        }
        for (const auto &[got, expected] : {std::pair{t.top(), s.top}, {t.span(), s.span}, {t.zoom(), s.zoom},
                                            {returned, s.returned}})
            EXPECT_TRUE(expected == Any || got == expected) << got << " for " << expected;
        EXPECT_EQ(t.scrollBar().visible, t.zoom() > 1);  // the bar shows while zoomed in
    }
}

// Zoom 64 on 6,400 positions gives a span of 100.
const Step To64[] = {{Do::Total, 6400}, {Do::In}, {Do::In}, {Do::In}, {Do::In}, {Do::In}, {Do::In, 0, Any, 100, 64}};
} // namespace

TEST(TimeLine, ZoomKeepsTheCentreWithin1To64)
{
    run({{Do::Total, 1000, 0, 1000, 1}, {Do::In, 0, 250, 500, 2}, {Do::Out, 0, 0, 1000, 1}, {Do::Out, 0, 0, 1000, 1},
         // Zooming out at the end moves top back by half the old span, then recalc pulls it in.
         {Do::In, 0, 250, 500, 2}, {Do::To, Max, 500}, {Do::Out, 0, 0, 1000, 1}});
    run({To64[0], To64[1], To64[2], To64[3], To64[4], To64[5], To64[6],
         {Do::In, 0, 3175, 100, 64},  // top still moves by a quarter of the span: 3150 + 25
         // A shorter total pulls top back; a negative one counts as empty.
         {Do::To, 6300, 6300}, {Do::Total, 3200, 3150, 50}, {Do::Total, -10, 0, 0}});
}

TEST(TimeLine, ScrollAndWheelStopOneShortOfRecalc)
{
    // Paging stops at total - span - 1, where recalc would allow 6300; the thumb at the very
    // top (0) is ignored; the end of scrolling repaints the mark strips.
    run({To64[0], To64[1], To64[2], To64[3], To64[4], To64[5], To64[6], {Do::To, 6250, 6250},
         {Do::Scroll, 0, 6299, Any, Any, 0, ScrollCode::PageDown}, {Do::Scroll, 0, Any, Any, Any, Any, ScrollCode::PageUp},
         {Do::Scroll, 0, 6194, Any, Any, Any, ScrollCode::LineUp},
         {Do::Scroll, 0, 6194, Any, Any, 0, ScrollCode::ThumbTrack},
         {Do::Scroll, 1234, 1234, Any, Any, Any, ScrollCode::ThumbTrack},
         {Do::Scroll, 100000, 6299, Any, Any, Any, ScrollCode::ThumbPosition},
         {Do::Scroll, 0, 6299, Any, Any, 1, ScrollCode::EndScroll},
         {Do::Scroll, -7, 0, Any, Any, Any, ScrollCode::ThumbPosition},
         // The wheel steps by a fiftieth of the span, earlier for a positive delta.
         {Do::Wheel, 120, 0, Any, Any, 1}, {Do::Wheel, 0, 2},  // zero counts as later
         {Do::To, 6298, 6298}, {Do::Wheel, -120, 6299},
         {Do::To, 6300, 6300}, {Do::Wheel, -120, 6300}});  // past the wheel's end: nothing
    // The whole song in view does not wheel; a span of 10 steps by at least 1.
    run({{Do::Total, 1000}, {Do::Wheel, -120, 0, Any, Any, 0}});
    run({{Do::Total, 640}, {Do::In}, {Do::In}, {Do::In}, {Do::In}, {Do::In}, {Do::In, 0, Any, 10, 64},
         {Do::To, 1, 1}, {Do::Wheel, 120, 0}});
}

// Rows round (50.4 down, 50.6 up, -1.5 toward zero); an empty time line maps as if its span were
// 1, a strip without rows as if it had one; results saturate.
TEST(TimeLine, PositionsAndRowsRoundTruncateAndNeverDivideByZero)
{
    const StripView view{250, 500, 80, 100}, noSpan{0, 0, 80, 300}, noHeight{100, 1000, 80, 0};
    const StripView steep{0, 1, 1000, 1000}, far{Max - 10, 1000000, 80, 1};
    const std::tuple<StripView, int32_t, int32_t> posToY[] = {{view, 502, 50}, {view, 503, 51}, {view, 240, -1},
                                                              {noSpan, 1, 300}, {noHeight, 600, 0}, {steep, Max, Max},
                                                              {steep, -Max - 1, -Max - 1}};
    for (const auto &[v, pos, y] : posToY)
        EXPECT_EQ(v.posToY(pos), y) << pos;
    const std::tuple<StripView, int32_t, int32_t> yToPos[] = {
        {view, 1, 255}, {view, 100, 750}, {noSpan, 150, 0}, {noHeight, 1, 1100}, {far, 1, Max}};
    for (const auto &[v, y, pos] : yToPos)
        EXPECT_EQ(v.yToPos(y), pos) << y;
}

TEST(TimeLine, SelectionBandClampsToJustOutsideTheStrip)
{
    TimeLine timeLine;
    timeLine.setTotal(1000);
    EXPECT_TRUE(timeLine.selectionBand(timeLine.view(80, 100)).isEmpty());  // nothing selected
    timeLine.zoomIn();  // top 250, span 500
    const StripView view = timeLine.view(80, 100);
    const std::array<int32_t, 4> cases[] = {{200, 500, -1, 50}, {600, 900, 70, 100}, {750, 900, 100, 100}};
    for (const auto &[start, end, y1, y2] : cases) {
        timeLine.setSelection(start, end);
        const SelectionBand band = timeLine.selectionBand(view);
        EXPECT_EQ(band.y1, y1) << start;
        EXPECT_EQ(band.y2, y2) << start;
    }
    EXPECT_TRUE(timeLine.selectionBand(view).isEmpty());  // y1 exactly at the bottom edge
}

TEST(TimeLine, TimeTextIsMinutesSecondsAndMilliseconds)
{
    const std::pair<int32_t, const char *> cases[] = {
        {0, "00:00.000"}, {61234, "01:01.234"}, {3599999, "59:59.999"}, {6000000, "100:00.000"}};
    for (const auto &[ms, text] : cases)
        EXPECT_EQ(formatTimeText(ms), text);
}
