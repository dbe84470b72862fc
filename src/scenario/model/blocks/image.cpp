// IMAGE: fields, copy, length, key frames, validation and its lines.
#include "scenario/model/blocks/image.h"

#include "base/result.h"
#include "imaging/imagefile.h"
#include "scenario/model/scenario.h"
#include "scenario/model/blocks/layout.h"

namespace vorn {

ImageBlock::ImageBlock() : Block(BlockKind::Image) {}

// The finished picture is not copied: the copy builds its own.
ImageBlock::ImageBlock(const ImageBlock &other)
    : Block(other),
      clip(other.clip),
      options(other.options),
      angle(other.angle),
      photoFrame(other.photoFrame),
      blockFrame(other.blockFrame)
{
}

ImageBlock::~ImageBlock() = default;

bool ImageBlock::isKeyFrame(int32_t)
{
    return true;
}

int32_t ImageBlock::frameCount()
{
    return cacheFrameCount(0);
}

int64_t ImageBlock::pictureBudget() const
{
    return scenario ? PicturePixelBudget(scenario->screenWidth, scenario->screenHeight)
                    : MinPicturePixels;
}

std::string ImageBlock::pictureFailureText() const
{
    return fillMessage("ブロック %s ファイル：%s", {displayName(), sjisToUtf8(file.value_or(""))});
}

int32_t ImageBlock::validate(Prompter *reportError)
{
    // A BLOCK_FRAME picture reads no file and needs no path.
    const int32_t result = validateFile(reportError, CannotOpen);
    if (result != Ok || !file)
        return result;
    // The header alone: a file that is no picture, or one that declares more pixels than
    // the screen gives a use for, is refused here rather than at every frame that shows it.
    const ImageFileHeader header = ReadImageFileHeader(localFilePath().value());
    const std::string fileName = sjisToUtf8(*file);
    if (!header.readable) {
        report(reportError,
               fillMessage("ブロック %s で指定されたファイルは画像として読み込むことができません。"
                           "\nファイル：%s",
                           {displayName(), fileName}));
        return CannotOpen;
    }
    if (const int64_t budget = pictureBudget(); !header.fits(budget)) {
        const std::string size = std::to_string(header.width) + "×" + std::to_string(header.height);
        report(reportError,
               fillMessage("ブロック %s で指定された画像 (%s) は大きすぎます。画素数は %s までです。"
                           "\nファイル：%s",
                           {displayName(), size, std::to_string(budget), fileName}));
        return CannotOpen;
    }
    return Ok;
}

int32_t ImageBlock::write(LineSink &out) const
{
    LinePrinter print(out);
    print.merge(writeHead(out));
    if (file) {
        print("\tFILE\t\t" + inQuotes(out.fileName(*file, directory)));
    } else {
        const BlockInput *input = firstInput();
        print("\tBLOCK_FRAME\t" + inQuotes(input ? input->nameOf() : SjisString()) + "\t" +
              num(blockFrame));
    }
    if (options & Sepia)
        print("\tSEPIA");
    if (options & Mono)
        print("\tMONO");
    if (options & Nega)
        print("\tNEGA");
    if (options & Discolor)
        print("\tDISCOLOR");
    if (options & Highpass)
        print("\tHIGHPASS");
    if (options & Red)
        print("\tRED");
    if (options & Green)
        print("\tGREEN");
    if (options & Blue)
        print("\tBLUE");
    if (options & PhotoFrame)
        print("\tPHOTO_FRAME\t" + num(photoFrame));
    if (options & Clip)
        print("\tCLIP\t" + layout::rectFields(clip));
    if (options & Angle)
        print("\tANGLE\t\t" + num(angle));
    if (options & ThroughColor)
        print("\tTHROUGH_COLOR" + layout::rgbFields(color));
    print("}");
    return print.result();
}

} // namespace vorn
