// Parsers of the combining and effect blocks: FADE family, CROSSFADE, MIX, SERIES and MAIN,
// SHAKE, MOSAIC, EXPAND family, CUT, ALPHA and SHADE.
#include "scenario/reader/grammar_common.h"

#include "scenario/model/blockinput.h"
#include "scenario/model/blocks/alpha.h"
#include "scenario/model/blocks/crossfade.h"
#include "scenario/model/blocks/cut.h"
#include "scenario/model/blocks/expand.h"
#include "scenario/model/blocks/fade.h"
#include "scenario/model/blocks/mix.h"
#include "scenario/model/blocks/mosaic.h"
#include "scenario/model/blocks/series.h"
#include "scenario/model/blocks/shade.h"
#include "scenario/model/blocks/shake.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"

namespace vorn::grammar {

namespace {

LineStatus status(int32_t result)
{
    return result < 0 ? LineStatus::Failed : LineStatus::Done;
}

// INPUT appended to the block's inputs (they add up).
LineStatus appendInput(Scenario &scenario, SourceText &text, Block &block, int32_t inputMode)
{
    std::unique_ptr<BlockInput> input = readInput(scenario, text, inputMode);
    if (!input)
        return LineStatus::Failed;
    block.inputs.push_back(std::move(input));
    return LineStatus::Done;
}

// The one input of a kind that takes one: a second is reported before its name is read.
LineStatus readSingleInput(Scenario &scenario, SourceText &text, Block &block, int32_t inputMode,
                           std::string_view secondInputMessage)
{
    if (!block.inputs.empty())
        return status(fail(scenario, text, secondInputMessage));
    return appendInput(scenario, text, block, inputMode);
}

// 1 for INPUT, 2 for !INPUT, 0 for any other keyword.
int32_t inputModeOf(std::string_view keyword, bool allowBlank)
{
    if (keyword == "INPUT")
        return 1;
    if (allowBlank && keyword == "!INPUT")
        return 2;
    return 0;
}

struct ModeWord {
    std::string_view keyword;
    int32_t value;
};

constexpr ModeWord FadeModes[] = {
    {"IN", FadeBlock::ModeIn}, {"OUT", FadeBlock::ModeOut}, {"INOUT", FadeBlock::ModeInOut}};
constexpr ModeWord ExpandModes[] = {{"IN", 1}, {"OUT", 2}};
constexpr ModeWord Directions[] = {
    {"UP", DirectionUp}, {"DOWN", DirectionDown}, {"LEFT", DirectionLeft}, {"RIGHT", DirectionRight}};

template <size_t N>
const ModeWord *findWord(const ModeWord (&words)[N], std::string_view keyword)
{
    for (const ModeWord &word : words) {
        if (word.keyword == keyword)
            return &word;
    }
    return nullptr;
}

} // namespace

std::unique_ptr<Block> parseFade(Scenario &scenario, SourceText &text, std::string_view keyword)
{
    auto block = std::make_unique<FadeBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveFrames = false;
    bool haveMode = false;
    BodyRules rules;
    rules.unknownPattern = "FADE ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view word) -> LineStatus {
        FadeBlock &b = *block;
        if (word == "INPUT")
            return readSingleInput(scenario, text, b, 1, "FADE ブロックに、複数の INPUT が定義されています。");
        if (const ModeWord *mode = findWord(FadeModes, word)) {
            if (haveMode)
                return status(fail(scenario, text, "FADE ブロックに、複数の ( IN | OUT | INOUT ) が定義されています。"));
            haveMode = true;
            b.fadeMode = mode->value;
            return LineStatus::Done;
        }
        if (word == "COLOR")
            return status(readColour3(scenario, text, b.bgColor, 255));
        if (word == "FRAMES") {
            if (haveFrames)
                return status(fail(scenario, text, "FADE ブロックに、複数の FRAMES が定義されています。"));
            haveFrames = true;
            return status(readInteger(scenario, text, b.frames, FramesLabel, CheckLowest, 2, 0));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, "FADE ブロックに、INPUT が定義されていません。");
        if (!haveFrames)
            return fail(scenario, text, "FADE ブロックに、FRAMES が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    // The alternative keywords fix the mode, whatever mode line the body held.
    if (keyword == "FADEIN")
        block->fadeMode = FadeBlock::ModeIn;
    else if (keyword == "FADEOUT")
        block->fadeMode = FadeBlock::ModeOut;
    else if (keyword == "FADEINOUT")
        block->fadeMode = FadeBlock::ModeInOut;
    return block;
}

std::unique_ptr<Block> parseCrossFade(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<CrossfadeBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveFrames = false;
    BodyRules rules;
    rules.unknownPattern = "CROSSFADE ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view word) -> LineStatus {
        CrossfadeBlock &b = *block;
        if (word == "INPUT")
            return appendInput(scenario, text, b, 1);
        if (word == "FRAMES") {
            if (haveFrames)
                return status(fail(scenario, text, "CROSSFADE ブロックに、複数の FRAMES が定義されています。"));
            haveFrames = true;
            return status(readInteger(scenario, text, b.frames, FramesLabel, CheckLowest, 2, 0));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.size() < 2)
            return fail(scenario, text, "CROSSFADE ブロックには、２つ以上の INPUT を定義して下さい。");
        if (!haveFrames)
            return fail(scenario, text, "CROSSFADE ブロックに、FRAMES が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

std::unique_ptr<Block> parseMix(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<MixBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    // OFFSET belongs to the input just read: allowed once after each INPUT, and no longer after
    // a BGIMAGE or BGCOLOR line has come between them.
    bool offsetAllowed = false;
    BodyRules rules;
    rules.unknownPattern = "MIX ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view word) -> LineStatus {
        MixBlock &b = *block;
        if (word == "INPUT") {
            std::unique_ptr<BlockInput> input = readInput(scenario, text, 1);
            if (!input)
                return LineStatus::Failed;
            BlockInput &added = *input;
            b.inputs.push_back(std::move(input));
            offsetAllowed = true;
            return status(readInputRect(scenario, text, added, "MIX ブロックの INPUT 指定子の座標値が不正です。"));
        }
        if (word == "OFFSET") {
            if (!offsetAllowed || b.inputs.empty())
                return status(fail(scenario, text, "MIX ブロックに、不正な OFFSET が定義されています。"));
            offsetAllowed = false;
            return status(readInteger(scenario, text, b.inputs.back()->offset, "オフセット", CheckLowest, 0, 0));
        }
        if (word == "OR") {
            b.mixMode = MixBlock::ModeOr;
            return LineStatus::Done;
        }
        if (word == "BGIMAGE") {
            offsetAllowed = false;
            if (b.bgImage)
                return status(fail(scenario, text, "MIX ブロックに、複数の BGIMAGE が定義されています。"));
            b.bgImage = readInput(scenario, text, 1);
            return b.bgImage ? LineStatus::Done : LineStatus::Failed;
        }
        if (word == "BGCOLOR") {
            offsetAllowed = false;
            return status(readColour3(scenario, text, b.bgColor, 255));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, "MIX ブロックに、INPUT が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

std::unique_ptr<Block> parseSeries(Scenario &scenario, SourceText &text, std::string_view keyword)
{
    const bool isMain = keyword == "MAIN";
    const std::string_view kindName = isMain ? "MAIN" : "SERIES";
    auto block = std::make_unique<SeriesBlock>(isMain ? BlockKind::Main : BlockKind::Series);
    if (isMain)
        block->name = SjisString(" ");  // MAIN has no name in the text
    else if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    BodyRules rules;
    rules.unknownPattern = fillFirst("%s ブロック内では、%s の記述はできません。", kindName);
    rules.line = [&](std::string_view word) -> LineStatus {
        SeriesBlock &b = *block;
        if (const int32_t mode = inputModeOf(word, true))
            return appendInput(scenario, text, b, mode);
        if (isMain && word == "ALINK_VOLUME_ALPHA" && !b.inputs.empty()) {
            b.inputs.back()->linkVolumeAlpha = true;
            scenario.usesAudioLink = true;
            return LineStatus::Done;
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (!isMain && block->inputs.empty())
            return fail(scenario, text, fillFirst("%s ブロックに、INPUT が定義されていません。", kindName));
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

std::unique_ptr<Block> parseShake(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<ShakeBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    BodyRules rules;
    rules.unknownPattern = "SHAKE ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view word) -> LineStatus {
        if (const int32_t mode = inputModeOf(word, true))
            return readSingleInput(scenario, text, *block, mode, "SHAKE ブロックに、複数の INPUT が定義されています。");
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, "SHAKE ブロックに、INPUT が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

std::unique_ptr<Block> parseMosaic(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<MosaicBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveSizeStart = false;
    bool haveSizeEnd = false;
    BodyRules rules;
    rules.unknownPattern = "MOSAIC ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view word) -> LineStatus {
        MosaicBlock &b = *block;
        if (const int32_t mode = inputModeOf(word, true))
            return readSingleInput(scenario, text, b, mode, "MOSAIC ブロックに、複数の INPUT が定義されています。");
        // The block sizes are tested for repetition after their value, so a bad second value
        // is reported as such.
        if (word == "SIZE_START") {
            if (readInteger(scenario, text, b.sizeStart, "開始ブロックサイズ", CheckLowest, 0, 0) < 0)
                return LineStatus::Failed;
            if (haveSizeStart)
                return status(fail(scenario, text, "MOSAIC ブロックに、複数の SIZE_START が定義されています。"));
            haveSizeStart = true;
            return LineStatus::Done;
        }
        if (word == "SIZE_END") {
            if (readInteger(scenario, text, b.sizeEnd, "終了ブロックサイズ", CheckLowest, 0, 0) < 0)
                return LineStatus::Failed;
            if (haveSizeEnd)
                return status(fail(scenario, text, "MOSAIC ブロックに、複数の SIZE_END が定義されています。"));
            haveSizeEnd = true;
            return LineStatus::Done;
        }
        if (word == "TGT_START" || word == "TGT_END") {
            const bool start = word == "TGT_START";
            Rect rect;
            if (readFourValues(scenario, text, rect, start ? "開始座標" : "終了座標", false) < 0)
                return LineStatus::Failed;
            if (!isOrdered(rect))
                return status(fail(scenario, text,
                                   start ? "MOSAIC ブロックの TGT_START 指定子の座標値が不正です。"
                                         : "MOSAIC ブロックの TGT_END 指定子の座標値が不正です。"));
            (start ? b.tgtStart : b.tgtEnd) = rect;
            (start ? b.hasTgtStart : b.hasTgtEnd) = true;
            return LineStatus::Done;
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, "MOSAIC ブロックに、INPUT が定義されていません。");
        if (!haveSizeStart)
            return fail(scenario, text, "MOSAIC ブロックに、SIZE_START が定義されていません。");
        if (!haveSizeEnd)
            return fail(scenario, text, "MOSAIC ブロックに、SIZE_End が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

std::unique_ptr<Block> parseExpand(Scenario &scenario, SourceText &text, std::string_view keyword)
{
    auto block = std::make_unique<ExpandBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveMode = false;
    bool haveDirection = false;
    BodyRules rules;
    rules.unknownPattern = "EXPAND ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view word) -> LineStatus {
        ExpandBlock &b = *block;
        if (const int32_t mode = inputModeOf(word, true))
            return readSingleInput(scenario, text, b, mode, "EXPAND ブロックに、複数の INPUT が定義されています。");
        if (const ModeWord *mode = findWord(ExpandModes, word)) {
            if (haveMode)
                return status(fail(scenario, text, "EXPAND ブロックに、複数の ( IN | OUT ) が定義されています。"));
            haveMode = true;
            b.expandIn = mode->value;
            return LineStatus::Done;
        }
        if (const ModeWord *direction = findWord(Directions, word)) {
            if (haveDirection)
                return status(fail(scenario, text,
                                   "EXPAND ブロックに、複数の ( UP | DOWN | LEFT | RIGHT ) が定義されています。"));
            haveDirection = true;
            b.direction = direction->value;
            return LineStatus::Done;
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, "EXPAND ブロックに、INPUT が定義されていません。");
        if (!haveDirection)
            return fail(scenario, text, "EXPAND ブロックに、( UP | DOWN | LEFT | RIGHT ) が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    if (keyword == "EXPANDIN")
        block->expandIn = 1;
    else if (keyword == "EXPANDOUT")
        block->expandIn = 2;
    return block;
}

namespace {

struct NumberKeyword {
    std::string_view keyword;
    std::string_view label;
    int checks;
    int32_t highest;
};

// CUT, ALPHA and SHADE: one input and a few numbers that may repeat (the last wins).
template <typename BlockType, size_t N>
std::unique_ptr<Block> parseNumbered(Scenario &scenario, SourceText &text, std::string_view kindName,
                                     const NumberKeyword (&numbers)[N],
                                     int32_t BlockType::*const (&fields)[N])
{
    auto block = std::make_unique<BlockType>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    const std::string secondInput = fillFirst("%s ブロックに、複数の INPUT が定義されています。", kindName);
    BodyRules rules;
    rules.unknownPattern = fillFirst("%s ブロック内では、%s の記述はできません。", kindName);
    rules.line = [&](std::string_view word) -> LineStatus {
        if (const int32_t mode = inputModeOf(word, true))
            return readSingleInput(scenario, text, *block, mode, secondInput);
        for (size_t i = 0; i < N; ++i) {
            if (word == numbers[i].keyword)
                return status(readInteger(scenario, text, (*block).*fields[i], numbers[i].label,
                                          numbers[i].checks, 0, numbers[i].highest));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (block->inputs.empty())
            return fail(scenario, text, fillFirst("%s ブロックに、INPUT が定義されていません。", kindName));
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

} // namespace

std::unique_ptr<Block> parseCut(Scenario &scenario, SourceText &text, std::string_view)
{
    static constexpr NumberKeyword Numbers[] = {
        {"START", "開始フレーム番号", CheckLowest, 0},
        {"END", "終了フレーム番号", CheckLowest, 0},
        {"SKIP", "フレームスキップ値", CheckLowest, 0},
    };
    static constexpr int32_t CutBlock::*Fields[] = {&CutBlock::start, &CutBlock::end, &CutBlock::skip};
    return parseNumbered<CutBlock>(scenario, text, "CUT", Numbers, Fields);
}

std::unique_ptr<Block> parseAlpha(Scenario &scenario, SourceText &text, std::string_view)
{
    static constexpr NumberKeyword Numbers[] = {
        {"START", "開始α値", CheckLowest | CheckHighest, 255},
        {"END", "終了α値", CheckLowest | CheckHighest, 255},
    };
    static constexpr int32_t AlphaBlock::*Fields[] = {&AlphaBlock::start, &AlphaBlock::end};
    return parseNumbered<AlphaBlock>(scenario, text, "ALPHA", Numbers, Fields);
}

std::unique_ptr<Block> parseShade(Scenario &scenario, SourceText &text, std::string_view)
{
    static constexpr NumberKeyword Numbers[] = {
        {"START", "開始フレーム番号", CheckLowest, 0},
        {"END", "終了フレーム番号", CheckLowest, 0},
    };
    static constexpr int32_t ShadeBlock::*Fields[] = {&ShadeBlock::start, &ShadeBlock::end};
    return parseNumbered<ShadeBlock>(scenario, text, "SHADE", Numbers, Fields);
}

} // namespace vorn::grammar
