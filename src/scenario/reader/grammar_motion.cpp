// Parsers of the motion blocks: STILL, ROTATE, the ACTION family (ACTION, ZOOM, SLIDE, FOCUS)
// and FILM.
#include "scenario/reader/grammar_common.h"

#include "scenario/model/blockinput.h"
#include "scenario/model/blocks/action.h"
#include "scenario/model/blocks/film.h"
#include "scenario/model/blocks/rotate.h"
#include "scenario/model/blocks/still.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"

#include <algorithm>
#include <limits>

namespace vorn::grammar {

namespace {

LineStatus status(int32_t result)
{
    return result < 0 ? LineStatus::Failed : LineStatus::Done;
}

// INPUT with its optional rectangle, appended to the block's inputs.
LineStatus readRectInput(Scenario &scenario, SourceText &text, Block &block,
                         std::string_view badRectMessage)
{
    std::unique_ptr<BlockInput> input = readInput(scenario, text, 1);
    if (!input)
        return LineStatus::Failed;
    BlockInput &added = *input;
    block.inputs.push_back(std::move(input));
    return status(readInputRect(scenario, text, added, badRectMessage));
}

} // namespace

std::unique_ptr<Block> parseStill(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<StillBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveFrames = false;
    BodyRules rules;
    rules.unknownPattern = "STILL ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view keyword) -> LineStatus {
        StillBlock &b = *block;
        if (keyword == "INPUT")
            return readRectInput(scenario, text, b, "STILL ブロックの INPUT 指定子の座標値が不正です。");
        if (keyword == "MAX_CUT" && !b.inputs.empty()) {
            b.inputs.back()->cutMode = MaxCut;
            return LineStatus::Done;
        }
        if (keyword == "BGCOLOR")
            return status(readColour3(scenario, text, b.bgColor, 255));
        if (keyword == "FRAMES") {
            if (haveFrames)
                return status(fail(scenario, text, "STILL ブロックに、複数の FRAMES が定義されています。"));
            haveFrames = true;
            return status(readInteger(scenario, text, b.frames, FramesLabel, CheckLowest, 1, 0));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, "STILL ブロックに、INPUT が定義されていません。");
        if (!haveFrames)
            return fail(scenario, text, "STILL ブロックに、FRAMES が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

std::unique_ptr<Block> parseRotate(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<RotateBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveFrames = false;
    BodyRules rules;
    rules.unknownPattern = "ROTATE ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view keyword) -> LineStatus {
        RotateBlock &b = *block;
        if (keyword == "INPUT")
            return readRectInput(scenario, text, b, "ROTATE ブロックの INPUT 指定子の座標値が不正です。");
        if (keyword == "CENTER") {
            if (readExpressionValue(scenario, text, b.centerX, "回転中心座標") < 0
                || readExpressionValue(scenario, text, b.centerY, "回転中心座標") < 0)
                return LineStatus::Failed;
            b.hasCenter = true;
            return LineStatus::Done;
        }
        if (keyword == "ANGLE") {
            if (readExpressionValue(scenario, text, b.angleStart, "開始角度") < 0)
                return LineStatus::Failed;
            return status(readExpressionValue(scenario, text, b.angleEnd, "終了角度"));
        }
        if (keyword == "BGCOLOR")
            return status(readColour3(scenario, text, b.bgColor, 255));
        if (keyword == "BGIMAGE") {
            if (b.bgImage)
                return status(fail(scenario, text, "ROTATE ブロックに、複数の BGIMAGE が定義されています。"));
            b.bgImage = readInput(scenario, text, 1);
            return b.bgImage ? LineStatus::Done : LineStatus::Failed;
        }
        if (keyword == "FRAMES") {
            if (haveFrames)
                return status(fail(scenario, text, "ROTATE ブロックに、複数の FRAMES が定義されています。"));
            haveFrames = true;
            return status(readInteger(scenario, text, b.frames, FramesLabel, CheckLowest, 2, 0));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, "ROTATE ブロックに、INPUT が定義されていません。");
        if (!haveFrames)
            return fail(scenario, text, "ROTATE ブロックに、FRAMES が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

namespace {

// The rectangles of the ACTION family and the kinds that may set each.
enum ActionKinds : unsigned { InAction = 1, InZoom = 2, InSlide = 4, InFocus = 8 };

struct ActionRect {
    std::string_view keyword;
    std::string_view label;
    unsigned allowedIn;
    Rect ActionBlock::*field;
    bool ActionBlock::*given;  // nullptr when the kind keeps no flag for it
};

const ActionRect ActionRects[] = {
    {"SRC_START", "転送元開始座標", InAction | InZoom, &ActionBlock::srcStart, &ActionBlock::hasSrcStart},
    {"SRC_END", "転送元終了座標", InAction | InZoom, &ActionBlock::srcEnd, &ActionBlock::hasSrcEnd},
    {"DST_START", "転送先開始座標", InAction | InSlide, &ActionBlock::dstStart, nullptr},
    {"DST_END", "転送先終了座標", InAction | InSlide, &ActionBlock::dstEnd, nullptr},
    {"DSP_START", "表示開始座標", InAction | InFocus, &ActionBlock::dspStart, nullptr},
    {"DSP_END", "表示終了座標", InAction | InFocus, &ActionBlock::dspEnd, nullptr},
};

struct ActionKind {
    std::string_view keyword;
    BlockKind kind;
    unsigned bit;
};
constexpr ActionKind ActionKindTable[] = {
    {"ACTION", BlockKind::Action, InAction},
    {"ZOOM", BlockKind::Zoom, InZoom},
    {"SLIDE", BlockKind::Slide, InSlide},
    {"FOCUS", BlockKind::Focus, InFocus},
};

} // namespace

std::unique_ptr<Block> parseAction(Scenario &scenario, SourceText &text, std::string_view keyword)
{
    const ActionKind *kind = &ActionKindTable[0];
    for (const ActionKind &entry : ActionKindTable) {
        if (entry.keyword == keyword)
            kind = &entry;
    }
    const std::string_view kindName = kind->keyword;

    auto block = std::make_unique<ActionBlock>(kind->kind);
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveFrames = false;
    BodyRules rules;
    rules.unknownPattern = fillFirst("%s ブロック内では、%s の記述はできません。", kindName);
    rules.line = [&](std::string_view word) -> LineStatus {
        ActionBlock &b = *block;
        if (word == "INPUT") {
            if (!b.inputs.empty())
                return status(fail(scenario, text, fillFirst("%s ブロックに、複数の INPUT が定義されています。", kindName)));
            std::unique_ptr<BlockInput> input = readInput(scenario, text, 1);
            if (!input)
                return LineStatus::Failed;
            b.inputs.push_back(std::move(input));
            return LineStatus::Done;
        }
        if (word == "BGIMAGE") {
            if (b.bgImage)
                return status(fail(scenario, text, fillFirst("%s ブロックに、複数の BGIMAGE が定義されています。", kindName)));
            b.bgImage = readInput(scenario, text, 1);
            return b.bgImage ? LineStatus::Done : LineStatus::Failed;
        }
        if (word == "KEEP_ASPECT") {
            b.keepAspect = true;
            return LineStatus::Done;
        }
        for (const ActionRect &entry : ActionRects) {
            if (word != entry.keyword)
                continue;
            if (!(entry.allowedIn & kind->bit))
                return status(fail(scenario, text,
                                   fillFirst("%sブロック内では、", kindName) + std::string(entry.keyword)
                                       + " の記述はできません。"));
            Rect rect;
            if (readFourValues(scenario, text, rect, entry.label, false) < 0)
                return LineStatus::Failed;
            if (!isOrdered(rect))
                return status(fail(scenario, text,
                                   fillFirst("%s ブロックの ", kindName) + std::string(entry.keyword)
                                       + " 指定子の座標値が不正です。"));
            b.*entry.field = rect;
            if (entry.given)
                b.*entry.given = true;
            return LineStatus::Done;
        }
        if (word == "BGCOLOR")
            return status(readColour3(scenario, text, b.bgColor, 255));
        if (word == "AFTERIMAGE") {
            if (kind->bit == InFocus)
                return status(fail(scenario, text, fillFirst("%sブロック内では、AFTERIMAGE の記述はできません。", kindName)));
            return status(readInteger(scenario, text, b.afterimage, "残像の長さ", CheckLowest, 0, 0));
        }
        if (word == "FRAMES") {
            if (haveFrames)
                return status(fail(scenario, text, fillFirst("%s ブロックに、複数の FRAMES が定義されています。", kindName)));
            haveFrames = true;
            return status(readInteger(scenario, text, b.frames, FramesLabel, CheckLowest, 2, 0));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, fillFirst("%s ブロックに、INPUT が定義されていません。", kindName));
        if (!haveFrames)
            return fail(scenario, text, fillFirst("%s ブロックに、FRAMES が定義されていません。", kindName));
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

namespace {

struct DirectionWord {
    std::string_view keyword;
    int32_t direction;
};
constexpr DirectionWord Directions[] = {
    {"UP", DirectionUp}, {"DOWN", DirectionDown}, {"LEFT", DirectionLeft}, {"RIGHT", DirectionRight}};

// The strip scrolls by 13 sixteenths of the screen side per input after the first; computed in
// 64 bits and kept within int32, so an absurd SCREEN cannot overflow it. A block read before any
// SCREEN line (side -1) or accepted at the end of the text without inputs has no scroll rather
// than a negative one, which would move the strip outside its picture.
int32_t filmLengthFor(int32_t side, int32_t inputCount)
{
    const int64_t unit = side >> 4;
    const int64_t length = unit * 13 * (static_cast<int64_t>(inputCount) - 1);
    return static_cast<int32_t>(std::clamp<int64_t>(length, 0, std::numeric_limits<int32_t>::max()));
}

} // namespace

std::unique_ptr<Block> parseFilm(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<FilmBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveFrames = false;
    bool haveDirection = false;
    BodyRules rules;
    rules.unknownPattern = "FILM ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view keyword) -> LineStatus {
        FilmBlock &b = *block;
        if (keyword == "INPUT") {
            std::unique_ptr<BlockInput> input = readInput(scenario, text, 1);
            if (!input)
                return LineStatus::Failed;
            b.inputs.push_back(std::move(input));
            return LineStatus::Done;
        }
        for (const DirectionWord &entry : Directions) {
            if (keyword != entry.keyword)
                continue;
            if (haveDirection)
                return status(fail(scenario, text,
                                   "FILM ブロックに、複数の ( UP | DOWN | LEFT | RIGHT ) が定義されています。"));
            haveDirection = true;
            b.direction = entry.direction;
            return LineStatus::Done;
        }
        if (keyword == "COLOR")
            return status(readColour3(scenario, text, b.color, 0));
        if (keyword == "BGCOLOR")
            return status(readColour3(scenario, text, b.bgColor, 255));
        if (keyword == "FRAMES") {
            if (haveFrames)
                return status(fail(scenario, text, "FILM ブロックに、複数の FRAMES が定義されています。"));
            haveFrames = true;
            return status(readInteger(scenario, text, b.frames, FramesLabel, CheckLowest, 2, 0));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.size() < 2)
            return fail(scenario, text, "FILM ブロックには、２つ以上の INPUT を定義して下さい。");
        if (!haveFrames)
            return fail(scenario, text, "FILM ブロックに、FRAMES が定義されていません。");
        if (!haveDirection)
            return fail(scenario, text, "FILM ブロックに、DIRECTION が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;

    // The strip's length follows the screen size as it stands now: a later SCREEN line does
    // not change it.
    block->inputCount = static_cast<int32_t>(block->inputs.size());
    const bool vertical = block->direction == DirectionUp || block->direction == DirectionDown;
    block->filmLength = filmLengthFor(vertical ? scenario.screenHeight : scenario.screenWidth,
                                      block->inputCount);
    return block;
}

} // namespace vorn::grammar
