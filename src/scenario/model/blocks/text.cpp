// TEXT: fields, copy, length, key frames, validation (photo placeholders) and its lines.
#include "scenario/model/blocks/text.h"

#include "base/result.h"
#include "imaging/photoproperty.h"
#include "scenario/model/blocks/layout.h"

#include <vector>

namespace vorn {
namespace {

// The STRING lines for `text`. Each CR LF starts a new line; an empty line cannot be written
// as an empty quoted string (the reader refuses those), so a CR LF next to an empty line is
// kept inside a neighbouring STRING as two backslashes, which the reader turns back into CR LF.
std::vector<SjisString> stringLines(std::string_view text)
{
    std::vector<std::string_view> pieces;
    size_t from = 0;
    while (true) {
        const size_t at = text.find("\r\n", from);
        if (at == std::string_view::npos) {
            pieces.push_back(text.substr(from));
            break;
        }
        pieces.push_back(text.substr(from, at - from));
        from = at + 2;
    }
    std::vector<SjisString> lines;
    SjisString current(pieces.front());
    for (size_t i = 1; i < pieces.size(); ++i) {
        if (!current.empty() && !pieces[i].empty()) {
            lines.push_back(std::move(current));
            current = SjisString(pieces[i]);
        } else {
            current += "\\\\";
            current.append(pieces[i]);
        }
    }
    lines.push_back(std::move(current));
    return lines;
}

} // namespace

TextBlock::TextBlock() : Block(BlockKind::Text)
{
    color = Colour{255, 255, 255, 255};
}

// displayString and the picture are left absent: validation and rendering make them afresh.
TextBlock::TextBlock(const TextBlock &other)
    : Block(other),
      string(other.string),
      size(other.size),
      font(other.font),
      fontWidth(other.fontWidth),
      fontHeight(other.fontHeight),
      align(other.align),
      valign(other.valign),
      frameOffset(other.frameOffset),
      options(other.options),
      angle(other.angle)
{
}

TextBlock::~TextBlock() = default;

bool TextBlock::isKeyFrame(int32_t)
{
    return true;
}

int32_t TextBlock::frameCount()
{
    return cacheFrameCount(0);
}

int32_t TextBlock::validate(Prompter *reportError)
{
    displayString = string;
    if (const int32_t result = validateFile(reportError, Failed); result != Ok || !file)
        return result;
    if (displayString)
        displayString = ExpandPhotoPlaceholders(*displayString, localFilePath().value());
    return Ok;
}

int32_t TextBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    print("\tSIZE\t\t" + num(size.width) + "\t" + num(size.height));
    if (file)
        print("\tFILE\t\t" + inQuotes(out.fileName(*file, directory)));
    if (frameOffset != 0)
        print("\tFRAME_OFFSET\t" + num(frameOffset));
    print("\tFONT\t\t" + inQuotes(font.value_or(SjisString())) + "\t" + num(fontWidth) + "\t" +
          num(fontHeight));
    if (string)
        for (const auto &line : stringLines(*string))
            print("\tSTRING\t\t" + inQuotes(line));
    print("\tCOLOR\t" + layout::rgbFields(color) + "\t" + num(color.alpha));
    switch (align) {
    case AlignCenter:
        print("\tALIGN\t\tCENTER");
        break;
    case AlignRight:
        print("\tALIGN\t\tRIGHT");
        break;
    case AlignLeft:
        print("\tALIGN\t\tLEFT");
        break;
    default:
        break;
    }
    switch (valign) {
    case VAlignCenter:
        print("\tVALIGN\t\tCENTER");
        break;
    case VAlignTop:
        print("\tVALIGN\t\tTOP");
        break;
    case VAlignBottom:
        print("\tVALIGN\t\tBOTTOM");
        break;
    default:
        break;
    }
    // Without this line a saved TEXT would lose its rotation.
    if (options & Angle)
        print("\tANGLE\t\t" + num(angle));
    print("}");
    return print.result();
}

} // namespace vorn
