// The shared block frame, value helpers, and the keyword-to-parser dispatch table.
#include "scenario/reader/grammar_common.h"

#include "base/cancel.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/blockgrammar.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"

#include <array>
#include <utility>

namespace vorn {
namespace grammar {

int32_t readOpeningBrace(Scenario &scenario, SourceText &text)
{
    text.skip(Blanks);
    if (text.peek() != '{')
        return fail(scenario, text, BadSyntaxMessage);
    text.advance();
    return 0;
}

BodyEnd readBody(Scenario &scenario, SourceText &text, const BodyRules &rules)
{
    if (readOpeningBrace(scenario, text) < 0)
        return BodyEnd::Failed;
    for (;;) {
        // An abandoned read stops between lines, unreported.
        if (cancelRequested())
            return BodyEnd::Failed;
        // A text that ends inside a body (a macro expansion's last line) leaves the block as it
        // stands; only trailing blanks make the keyword read below fail.
        if (text.atEnd())
            return BodyEnd::EndOfText;
        text.skip(Blanks);
        if (text.peek() == '}') {
            if (rules.close && rules.close() < 0)
                return BodyEnd::Failed;
            text.advance();
            return BodyEnd::Closed;
        }
        const std::optional<SjisString> keyword =
            readToken(scenario, text, KeywordBufferSize, BlockKeywordDelimiters);
        if (!keyword)
            return BodyEnd::Failed;
        switch (rules.line(*keyword)) {
        case LineStatus::Done:
            break;
        case LineStatus::Failed:
            return BodyEnd::Failed;
        case LineStatus::Unknown:
            failWithWord(scenario, text, rules.unknownPattern, *keyword);
            return BodyEnd::Failed;
        }
    }
}

std::string fillFirst(std::string_view pattern, std::string_view argument)
{
    const size_t at = pattern.find("%s");
    if (at == std::string_view::npos)
        return std::string(pattern);
    std::string result;
    result.reserve(pattern.size() + argument.size());
    result.append(pattern.substr(0, at));
    result.append(argument);
    result.append(pattern.substr(at + 2));
    return result;
}

int32_t fail(Scenario &scenario, SourceText &text, std::string_view message)
{
    reportError(scenario, message, &text);
    return -1;
}

int32_t failWithWord(Scenario &scenario, SourceText &text, std::string_view pattern,
                     std::string_view sjisWord)
{
    return fail(scenario, text, fillFirst(pattern, sjisToUtf8(sjisWord)));
}

int32_t readFourValues(Scenario &scenario, SourceText &text, Rect &rect, std::string_view label,
                       bool atLeastZero)
{
    int32_t *const values[] = {&rect.left, &rect.top, &rect.right, &rect.bottom};
    for (int32_t *value : values) {
        const int32_t result = atLeastZero
                                   ? readInteger(scenario, text, *value, label, CheckLowest, 0, 0)
                                   : readExpressionValue(scenario, text, *value, label);
        if (result < 0)
            return -1;
    }
    return 0;
}

int32_t readBlockName(Scenario &scenario, SourceText &text, std::optional<SjisString> &name)
{
    std::optional<SjisString> read = readQuotedString(scenario, text, BlockNameLabel);
    if (!read)
        return -1;
    name = std::move(*read);
    return 0;
}

bool isOrdered(const Rect &rect)
{
    return rect.left <= rect.right && rect.top <= rect.bottom;
}

namespace {
int32_t readByte(Scenario &scenario, SourceText &text, uint8_t &out, std::string_view label)
{
    int32_t value = 0;
    if (readInteger(scenario, text, value, label, CheckHighest | CheckLowest, 0, 255) < 0)
        return -1;
    out = static_cast<uint8_t>(value);
    return 0;
}
} // namespace

int32_t readColour3(Scenario &scenario, SourceText &text, Colour &colour, uint8_t alpha)
{
    Colour read;
    if (readByte(scenario, text, read.red, RedLabel) < 0
        || readByte(scenario, text, read.green, GreenLabel) < 0
        || readByte(scenario, text, read.blue, BlueLabel) < 0)
        return -1;
    read.alpha = alpha;
    colour = read;
    return 0;
}

int32_t readColour4(Scenario &scenario, SourceText &text, Colour &colour)
{
    Colour read;
    if (readByte(scenario, text, read.red, RedLabel) < 0
        || readByte(scenario, text, read.green, GreenLabel) < 0
        || readByte(scenario, text, read.blue, BlueLabel) < 0
        || readByte(scenario, text, read.alpha, AlphaLabel) < 0)
        return -1;
    colour = read;
    return 0;
}

std::unique_ptr<BlockInput> readInput(Scenario &scenario, SourceText &text, int32_t inputMode)
{
    std::optional<SjisString> name = readQuotedString(scenario, text, InputNameLabel);
    if (!name)
        return nullptr;
    return std::make_unique<BlockInput>(std::move(*name), inputMode);
}

int32_t readInputRect(Scenario &scenario, SourceText &text, BlockInput &input,
                      std::string_view badRectMessage)
{
    text.skip(Blanks);
    const char next = text.peek();
    const bool startsValue = (next >= '0' && next <= '9') || next == '-' || next == '('
                             || next == '$';
    if (!startsValue)
        return 0;
    Rect rect;
    if (readFourValues(scenario, text, rect, ClipLabel, false) < 0)
        return -1;
    if (!isOrdered(rect))
        return fail(scenario, text, badRectMessage);
    input.rect = rect;
    input.hasRect = true;
    return 0;
}

} // namespace grammar

namespace {
struct ParserEntry {
    std::string_view keyword;
    BlockParser parser;
};

// Every block keyword of the statement loop, in its order.
constexpr std::array<ParserEntry, 26> Parsers{{
    {"IMAGE", grammar::parseImage},
    {"TEXT", grammar::parseText},
    {"DRAW", grammar::parseDraw},
    {"STILL", grammar::parseStill},
    {"ROTATE", grammar::parseRotate},
    {"ACTION", grammar::parseAction},
    {"ZOOM", grammar::parseAction},
    {"SLIDE", grammar::parseAction},
    {"FOCUS", grammar::parseAction},
    {"FILM", grammar::parseFilm},
    {"FADE", grammar::parseFade},
    {"FADEIN", grammar::parseFade},
    {"FADEOUT", grammar::parseFade},
    {"FADEINOUT", grammar::parseFade},
    {"CROSSFADE", grammar::parseCrossFade},
    {"MIX", grammar::parseMix},
    {"SERIES", grammar::parseSeries},
    {"MAIN", grammar::parseSeries},
    {"SHAKE", grammar::parseShake},
    {"MOSAIC", grammar::parseMosaic},
    {"EXPAND", grammar::parseExpand},
    {"EXPANDIN", grammar::parseExpand},
    {"EXPANDOUT", grammar::parseExpand},
    {"CUT", grammar::parseCut},
    {"ALPHA", grammar::parseAlpha},
    {"SHADE", grammar::parseShade},
}};
} // namespace

BlockParser findBlockParser(std::string_view keyword)
{
    for (const ParserEntry &entry : Parsers) {
        if (entry.keyword == keyword)
            return entry.parser;
    }
    return nullptr;
}

} // namespace vorn
