// Parsers of the source blocks: IMAGE, TEXT, and DRAW with its LINE, RECT, POLYGON and ELLIPSE.
#include "scenario/reader/grammar_common.h"

#include "imaging/shapes.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/blocks/draw.h"
#include "scenario/model/blocks/image.h"
#include "scenario/model/blocks/text.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"

#include <utility>
#include <vector>

namespace vorn::grammar {

namespace {

LineStatus status(int32_t result)
{
    return result < 0 ? LineStatus::Failed : LineStatus::Done;
}

constexpr std::string_view WidthLabel = "幅";
constexpr std::string_view HeightLabel = "高さ";
constexpr std::string_view AngleValueLabel = "角度の値";
constexpr std::string_view PointXLabel = "X座標";
constexpr std::string_view PointYLabel = "Y座標";
constexpr std::string_view LineWidthLabel = "線幅";

struct OptionKeyword {
    std::string_view keyword;
    int32_t bit;
};
constexpr OptionKeyword ImageFlags[] = {
    {"SEPIA", ImageBlock::Sepia},       {"MONO", ImageBlock::Mono},
    {"NEGA", ImageBlock::Nega},         {"DISCOLOR", ImageBlock::Discolor},
    {"HIGHPASS", ImageBlock::Highpass}, {"RED", ImageBlock::Red},
    {"GREEN", ImageBlock::Green},       {"BLUE", ImageBlock::Blue},
};

} // namespace

std::unique_ptr<Block> parseImage(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<ImageBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveSource = false;  // FILE or BLOCK_FRAME
    BodyRules rules;
    rules.unknownPattern = "IMAGE ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view keyword) -> LineStatus {
        ImageBlock &b = *block;
        if (keyword == "FILE" || keyword == "BLOCK_FRAME") {
            if (haveSource)
                return status(fail(scenario, text,
                                   "IMAGE ブロックに複数の FILE または BLOCK_FRAME が定義されています。"));
            haveSource = true;
            if (keyword == "FILE") {
                std::optional<SjisString> file = readQuotedString(scenario, text, "画像ファイル名");
                if (!file)
                    return LineStatus::Failed;
                b.file = std::move(*file);
                return LineStatus::Done;
            }
            std::unique_ptr<BlockInput> input = readInput(scenario, text, 1);
            if (!input)
                return LineStatus::Failed;
            b.inputs.push_back(std::move(input));
            return status(readInteger(scenario, text, b.blockFrame, "フレーム番号", CheckLowest, 0, 0));
        }
        if (keyword == "PHOTO_FRAME") {
            b.options |= ImageBlock::PhotoFrame;
            return status(readInteger(scenario, text, b.photoFrame, "フォトフレーム幅",
                                      CheckHighest | CheckLowest, 0, 100));
        }
        for (const OptionKeyword &flag : ImageFlags) {
            if (keyword == flag.keyword) {
                b.options |= flag.bit;
                return LineStatus::Done;
            }
        }
        if (keyword == "CLIP") {
            b.options |= ImageBlock::Clip;
            Rect clip;
            if (readFourValues(scenario, text, clip, ClipLabel, true) < 0)
                return LineStatus::Failed;
            if (!isOrdered(clip))
                return status(fail(scenario, text, "IMAGE ブロックの CLIP 指定子の座標値が不正です。"));
            b.clip = clip;
            return LineStatus::Done;
        }
        if (keyword == "ANGLE") {
            b.options |= ImageBlock::Angle;
            return status(readExpressionValue(scenario, text, b.angle, AngleValueLabel));
        }
        if (keyword == "THROUGH_COLOR") {
            b.options |= ImageBlock::ThroughColor;
            return status(readColour3(scenario, text, b.color, 0));
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (!haveSource)
            return fail(scenario, text, "IMAGE ブロックに FILE または BLOCK_FRAME が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

namespace {

// A Shift-JIS lead byte: the byte after it belongs to the same character.
bool isSjisLeadByte(char byte)
{
    const auto value = static_cast<unsigned char>(byte);
    return (value >= 0x81 && value <= 0x9F) || (value >= 0xE0 && value <= 0xFC);
}

// Every pair of backslashes becomes CR LF, scanning from the left. Double-byte characters are
// stepped over whole: many (表, ソ, 能 ...) end in 0x5C, the backslash byte, and pairing that
// trail byte with a following backslash would cut the character in two.
SjisString expandLineBreaks(std::string_view string)
{
    SjisString result;
    result.reserve(string.size());
    for (size_t i = 0; i < string.size(); ++i) {
        if (isSjisLeadByte(string[i]) && i + 1 < string.size()) {
            result += string.substr(i, 2);
            ++i;
        } else if (string[i] == '\\' && i + 1 < string.size() && string[i + 1] == '\\') {
            result += "\r\n";
            ++i;
        } else {
            result += string[i];
        }
    }
    return result;
}

int32_t readWordChoice(Scenario &scenario, SourceText &text, int32_t &out,
                       std::initializer_list<std::pair<std::string_view, int32_t>> choices,
                       std::string_view unknownPattern)
{
    text.skip(Blanks);
    std::optional<SjisString> word =
        readToken(scenario, text, KeywordBufferSize, BlockKeywordDelimiters);
    if (!word)
        return -1;
    for (const auto &[name, value] : choices) {
        if (*word == name) {
            out = value;
            return 0;
        }
    }
    return failWithWord(scenario, text, unknownPattern, *word);
}

} // namespace

std::unique_ptr<Block> parseText(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<TextBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveFile = false;
    bool haveSize = false;
    bool haveFont = false;
    BodyRules rules;
    rules.unknownPattern = "TEXT ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view keyword) -> LineStatus {
        TextBlock &b = *block;
        if (keyword == "STRING") {
            std::optional<SjisString> string = readQuotedString(scenario, text, "表示対象文字列");
            if (!string)
                return LineStatus::Failed;
            SjisString expanded = expandLineBreaks(*string);
            if (b.string)
                *b.string += "\r\n" + expanded;
            else
                b.string = std::move(expanded);
            return LineStatus::Done;
        }
        if (keyword == "FILE") {
            if (haveFile)
                return status(fail(scenario, text, "TEXT ブロックに複数の FILE が定義されています。"));
            haveFile = true;
            std::optional<SjisString> file = readQuotedString(scenario, text, "JPEG画像ファイル名");
            if (!file)
                return LineStatus::Failed;
            b.file = std::move(*file);
            return LineStatus::Done;
        }
        if (keyword == "SIZE") {
            if (haveSize)
                return status(fail(scenario, text, "TEXT ブロックに、複数の SIZE が定義されています。"));
            haveSize = true;
            if (readInteger(scenario, text, b.size.width, WidthLabel, CheckLowest, 0, 0) < 0)
                return LineStatus::Failed;
            return status(readInteger(scenario, text, b.size.height, HeightLabel, CheckLowest, 0, 0));
        }
        if (keyword == "FONT") {
            std::optional<SjisString> font = readQuotedString(scenario, text, "フォント名");
            if (!font)
                return LineStatus::Failed;
            b.font = std::move(*font);
            haveFont = true;
            if (readInteger(scenario, text, b.fontWidth, "フォント幅", CheckLowest, 0, 0) < 0)
                return LineStatus::Failed;
            return status(readInteger(scenario, text, b.fontHeight, "フォント高", CheckLowest, 0, 0));
        }
        if (keyword == "ALIGN")
            return status(readWordChoice(scenario, text, b.align,
                                         {{"CENTER", TextBlock::AlignCenter}, {"RIGHT", TextBlock::AlignRight},
                                          {"LEFT", TextBlock::AlignLeft}},
                                         "ALIGNオプションでは、%s の記述はできません。"));
        if (keyword == "VALIGN")
            return status(readWordChoice(scenario, text, b.valign,
                                         {{"CENTER", TextBlock::VAlignCenter}, {"TOP", TextBlock::VAlignTop},
                                          {"BOTTOM", TextBlock::VAlignBottom}},
                                         "VALIGNオプションでは、%s の記述はできません。"));
        if (keyword == "COLOR")
            return status(readColour4(scenario, text, b.color));
        if (keyword == "ANGLE") {
            b.options |= TextBlock::Angle;
            return status(readExpressionValue(scenario, text, b.angle, AngleValueLabel));
        }
        if (keyword == "FRAME_OFFSET")
            return status(readInteger(scenario, text, b.frameOffset, "オフセット", CheckLowest, 0, 0));
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (!haveSize)
            return fail(scenario, text, "TEXT ブロックに、SIZE が定義されていません。");
        if (!block->string)
            return fail(scenario, text, "TEXT ブロックに、STRING が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    if (!haveFont)
        block->font = SjisString("\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e");  // ＭＳ ゴシック
    return block;
}

namespace {

int32_t readPoint(Scenario &scenario, SourceText &text, ShapePoint &point)
{
    if (readExpressionValue(scenario, text, point.x, PointXLabel) < 0)
        return -1;
    return readExpressionValue(scenario, text, point.y, PointYLabel);
}

// A shape without WIDTH gets the one-pixel pen as 1, not 0: both draw alike, but the writer
// always writes a WIDTH line and the grammar refuses a width below 1, so 0 would make a saved
// DRAW block unreadable.
constexpr int32_t DefaultLineWidth = 1;

int32_t readLineWidth(Scenario &scenario, SourceText &text, int32_t &width)
{
    return readInteger(scenario, text, width, LineWidthLabel, CheckLowest, 1, 0);
}

// LINE and POLYGON: points add up, the newest at the head of the list.
std::unique_ptr<Shape> parseLineShape(Scenario &scenario, SourceText &text, bool polygon)
{
    std::unique_ptr<ShapeLine> shape =
        polygon ? std::make_unique<ShapePolygon>() : std::make_unique<ShapeLine>();
    shape->width = DefaultLineWidth;
    const std::string_view kind = polygon ? "POLYGON" : "LINE";
    // In file order, added to the shape at once when the body has been read: adding each point
    // at the head as it comes would make a long shape cost time quadratic in its points.
    std::vector<ShapePoint> points;
    BodyRules rules;
    rules.unknownPattern = fillFirst("%s ブロック内では、%s の記述はできません。", kind);
    rules.line = [&](std::string_view keyword) -> LineStatus {
        if (keyword == "POINT") {
            ShapePoint point;
            if (readPoint(scenario, text, point) < 0)
                return LineStatus::Failed;
            points.push_back(point);
            return LineStatus::Done;
        }
        if (keyword == "WIDTH")
            return status(readLineWidth(scenario, text, shape->width));
        if (polygon && keyword == "FILL") {
            static_cast<ShapePolygon &>(*shape).fill = 1;
            return LineStatus::Done;
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (!polygon && points.size() < 2)
            return fail(scenario, text, "LINE ブロックの、POINT が定義が少なすぎます。");
        if (polygon && points.size() < 3)
            return fail(scenario, text, "POLYGON ブロックの、POINT が定義が少なすぎます。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    shape->addPoints(points);
    return shape;
}

// RECT: two corner points become a closed four-point polygon.
std::unique_ptr<Shape> parseRectShape(Scenario &scenario, SourceText &text)
{
    auto shape = std::make_unique<ShapePolygon>();
    shape->width = DefaultLineWidth;
    ShapePoint corners[2];
    int32_t pointCount = 0;
    BodyRules rules;
    rules.unknownPattern = "RECT ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view keyword) -> LineStatus {
        if (keyword == "POINT") {
            ShapePoint point;
            if (readPoint(scenario, text, point) < 0)
                return LineStatus::Failed;
            if (pointCount < 2)
                corners[pointCount] = point;
            // Counting saturates: only "fewer than two" and "more than two" matter.
            if (pointCount < 3)
                ++pointCount;
            return LineStatus::Done;
        }
        if (keyword == "WIDTH")
            return status(readLineWidth(scenario, text, shape->width));
        if (keyword == "FILL") {
            shape->fill = 1;
            return LineStatus::Done;
        }
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (pointCount < 2)
            return fail(scenario, text, "RECT ブロックの、POINT が定義が少なすぎます。");
        if (pointCount > 2)
            return fail(scenario, text, "RECT ブロックの、POINT が定義が多すぎます。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    // A RECT accepted at the end of the text may hold a single point: it then becomes a
    // rectangle of that one point, and with no point at all an empty polygon, so that no corner
    // is ever made from a value that was not read.
    if (pointCount == 1)
        corners[1] = corners[0];
    if (pointCount >= 1) {
        const ShapePoint a = corners[0];
        const ShapePoint b = corners[1];
        shape->addPoint(a.x, a.y);
        shape->addPoint(b.x, a.y);
        shape->addPoint(b.x, b.y);
        shape->addPoint(a.x, b.y);
    }
    return shape;
}

std::unique_ptr<Shape> parseEllipseShape(Scenario &scenario, SourceText &text)
{
    auto shape = std::make_unique<ShapeEllipse>();
    bool haveRegion = false;
    BodyRules rules;
    rules.unknownPattern = "ELLIPSE ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view keyword) -> LineStatus {
        if (keyword == "REGION") {
            Rect region;
            if (readFourValues(scenario, text, region, "領域", false) < 0)
                return LineStatus::Failed;
            shape->left = region.left;
            shape->top = region.top;
            shape->right = region.right;
            shape->bottom = region.bottom;
            haveRegion = true;
            return LineStatus::Done;
        }
        if (keyword == "WIDTH")
            return status(readLineWidth(scenario, text, shape->width));
        if (keyword == "FILL") {
            shape->fill = 1;
            return LineStatus::Done;
        }
        if (keyword == "ANGLE")
            return status(readExpressionValue(scenario, text, shape->angle, "角度"));
        return LineStatus::Unknown;
    };
    rules.close = [&]() -> int32_t {
        if (!haveRegion)
            return fail(scenario, text, "ELLIPSE ブロックの、REGION 定義がありません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return shape;
}

} // namespace

std::unique_ptr<Block> parseDraw(Scenario &scenario, SourceText &text, std::string_view)
{
    auto block = std::make_unique<DrawBlock>();
    if (readBlockName(scenario, text, block->name) < 0)
        return nullptr;

    bool haveSize = false;
    BodyRules rules;
    rules.unknownPattern = "DRAW ブロック内では、%s の記述はできません。";
    rules.line = [&](std::string_view keyword) -> LineStatus {
        DrawBlock &b = *block;
        if (keyword == "SIZE") {
            if (haveSize)
                return status(fail(scenario, text, "DRAW ブロックに、複数の SIZE が定義されています。"));
            haveSize = true;
            if (readInteger(scenario, text, b.size.width, WidthLabel, CheckLowest, 1, 0) < 0)
                return LineStatus::Failed;
            return status(readInteger(scenario, text, b.size.height, HeightLabel, CheckLowest, 1, 0));
        }
        if (keyword == "COLOR")
            return status(readColour4(scenario, text, b.color));
        std::unique_ptr<Shape> shape;
        if (keyword == "LINE")
            shape = parseLineShape(scenario, text, false);
        else if (keyword == "POLYGON")
            shape = parseLineShape(scenario, text, true);
        else if (keyword == "RECT")
            shape = parseRectShape(scenario, text);
        else if (keyword == "ELLIPSE")
            shape = parseEllipseShape(scenario, text);
        else
            return LineStatus::Unknown;
        if (!shape)
            return LineStatus::Failed;
        b.shapes.push_back(std::move(shape));
        return LineStatus::Done;
    };
    rules.close = [&]() -> int32_t {
        if (!haveSize)
            return fail(scenario, text, "DRAW ブロックに、SIZE が定義されていません。");
        return 0;
    };
    if (readBody(scenario, text, rules) == BodyEnd::Failed)
        return nullptr;
    return block;
}

} // namespace vorn::grammar
