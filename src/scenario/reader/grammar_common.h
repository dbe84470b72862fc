// The frame that every block and shape body shares, and the value helpers of the block parsers.
#pragma once

#include "base/geometry.h"
#include "base/sjis.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

class Block;
class BlockInput;
class Scenario;
class SourceText;

namespace grammar {

// Labels shared by several block kinds; value messages show them.
inline constexpr std::string_view BlockNameLabel = "ブロック名";
inline constexpr std::string_view InputNameLabel = "入力ブロック名";
inline constexpr std::string_view FramesLabel = "フレーム数";
inline constexpr std::string_view ClipLabel = "クリップ座標";
inline constexpr std::string_view RedLabel = "赤の輝度";
inline constexpr std::string_view GreenLabel = "緑の輝度";
inline constexpr std::string_view BlueLabel = "青の輝度";
inline constexpr std::string_view AlphaLabel = "α値";
inline constexpr std::string_view BadSyntaxMessage = "不正な記述があります。";

// A keyword is read into a 256-byte buffer: at most 255 bytes plus its terminating NUL.
inline constexpr size_t KeywordBufferSize = 256;

// What a keyword-line handler made of one line.
enum class LineStatus {
    Done,      // values read and stored
    Failed,    // the failure has been reported
    Unknown,   // not a keyword of this kind: the frame reports the unrecognised-keyword message
};

// How a body ended.
enum class BodyEnd {
    Closed,     // at `}`, after the closing checks passed; the `}` has been stepped over
    EndOfText,  // no byte was left at the top of the loop: accepted without closing checks
    Failed,     // reported
};

struct BodyRules {
    // Reads the values of one keyword line; the text stands just after the keyword.
    std::function<LineStatus(std::string_view keyword)> line;
    // The closing checks, made with the text on the `}`: 0, or -1 after reporting.
    std::function<int32_t()> close;
    // The unrecognised-keyword message with one %s for the keyword.
    std::string unknownPattern;
};

// Skips blanks, tabs and LFs and steps over the `{` that must come next; otherwise reports
// "不正な記述があります。". 0 or -1.
int32_t readOpeningBrace(Scenario &scenario, SourceText &text);

// Reads `{`, keyword lines and the closing `}` of a block or shape body.
BodyEnd readBody(Scenario &scenario, SourceText &text, const BodyRules &rules);

// Replaces the first %s of pattern with argument (the rest is kept as it is, so a pattern with
// two %s can be filled one argument at a time).
std::string fillFirst(std::string_view pattern, std::string_view argument);

// Reports a message at the text's current position; always -1, so handlers can return it.
int32_t fail(Scenario &scenario, SourceText &text, std::string_view message);
// Reports fillFirst(pattern, argument) as above; the argument is Shift-JIS bytes from the text
// (a keyword), decoded for the message.
int32_t failWithWord(Scenario &scenario, SourceText &text, std::string_view pattern,
                     std::string_view sjisWord);

// Four values (l, t, r, b) with one label. atLeastZero: readInteger with lowest 0 (int ≥ 0);
// otherwise readExpressionValue. 0 or -1.
int32_t readFourValues(Scenario &scenario, SourceText &text, Rect &rect, std::string_view label,
                       bool atLeastZero);
// Whether l ≤ r and t ≤ b.
bool isOrdered(const Rect &rect);

// Three values 0–255 labelled red, green, blue; the colour gets `alpha`. 0 or -1.
int32_t readColour3(Scenario &scenario, SourceText &text, Colour &colour, uint8_t alpha);
// Four values 0–255 labelled red, green, blue, alpha. 0 or -1.
int32_t readColour4(Scenario &scenario, SourceText &text, Colour &colour);

// INPUT / !INPUT / BGIMAGE: a quoted block name (label "入力ブロック名") into a new input of the
// given mode (1 INPUT, 2 !INPUT). nullptr when reported.
std::unique_ptr<BlockInput> readInput(Scenario &scenario, SourceText &text, int32_t inputMode);

// The optional rectangle after an INPUT name (STILL, ROTATE, MIX): when the next non-blank byte
// starts a value, four expressions labelled "クリップ座標" that must be ordered, else
// badRectMessage. Sets rect and hasRect. 0 or -1.
int32_t readInputRect(Scenario &scenario, SourceText &text, BlockInput &input,
                      std::string_view badRectMessage);

// The parsers of each block family (the dispatch table of findBlockParser names them). Each
// reads from just after the kind keyword; keyword selects the kind within the family.
std::unique_ptr<Block> parseImage(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseText(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseDraw(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseStill(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseRotate(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseAction(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseFilm(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseFade(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseCrossFade(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseMix(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseSeries(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseShake(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseMosaic(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseExpand(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseCut(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseAlpha(Scenario &, SourceText &, std::string_view keyword);
std::unique_ptr<Block> parseShade(Scenario &, SourceText &, std::string_view keyword);

// Reads the quoted block name (label "ブロック名") into name. 0 or -1.
int32_t readBlockName(Scenario &scenario, SourceText &text, std::optional<SjisString> &name);

} // namespace grammar
} // namespace vorn
