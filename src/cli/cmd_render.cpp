// vorn-scenario render: reads, links and validates a scenario, renders one frame through it
// and saves the picture as an 8-bit RGBA PNG.
#include "base/atomicfile.h"
#include "base/prompter.h"
#include "cli/command.h"
#include "cli/scenarioload.h"
#include "imaging/imagebuffer.h"
#include "imaging/qimageconvert.h"
#include "scenario/model/scenario.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

#include <charconv>
#include <string>

namespace vorn::cli {

namespace {

const char NoPictureMessage[] = "画像の作成に失敗しました。";
const char SaveFailedMessage[] = "画像ファイルの保存に失敗しました。";

int runRender(const std::vector<std::string> &args);

const Command RenderCommand{
    "render",
    "render FILE FRAME OUT.png [--answer yes|no]",
    "Read, link and validate a scenario, render frame FRAME (0-based) and save it as a PNG.",
    runRender,
};

const CommandRegistration registration(RenderCommand);

// Encodes in memory and replaces OUT.png atomically, as scenarios are saved: a full disk or an
// unwritable folder leaves an existing picture as it was. Encoding into a buffer also keeps
// libpng quiet: Qt installs no error handler for writing, so libpng's own would print
// "libpng error: Write Error" to stderr when the file refused a write.
bool savePng(const QImage &image, const std::string &out)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly))
        return false;
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image))
        return false;
    const std::string_view data(bytes.constData(), size_t(bytes.size()));
    return replaceFile(std::filesystem::path(out), data) == 0;
}

int runRender(const std::vector<std::string> &args)
{
    ScenarioArguments parsed;
    if (int status = parseScenarioArguments(RenderCommand, args, parsed, true); status != ExitOk)
        return status;
    if (parsed.others.size() < 2)
        return usageError(RenderCommand, "FRAME and OUT.png are needed");
    if (parsed.others.size() > 2)
        return usageError(RenderCommand, "too many arguments");
    const std::string &frameText = parsed.others[0];
    int32_t frame = 0;
    const auto [end, error] =
        std::from_chars(frameText.data(), frameText.data() + frameText.size(), frame);
    if (error != std::errc() || end != frameText.data() + frameText.size())
        return usageError(RenderCommand, "FRAME must be a whole number");
    const std::string &out = parsed.others[1];
    if (out.size() > 1 && out[0] == '-')
        return usageError(RenderCommand, "unknown option " + out);

    StderrPrompter prompter(parsed.answer);
    auto scenario = loadLinkedScenario(parsed.file, prompter);
    if (!scenario)
        return ExitRefused;
    if (frame < 0 || frame >= scenario->totalFrames) {
        prompter.showError("フレーム " + std::to_string(frame) + " はシナリオの範囲 (0 - " +
                           std::to_string(scenario->totalFrames - 1) + ") の外にあります。");
        return ExitRefused;
    }
    ImageBuffer *picture = scenario->render(frame);
    if (!picture) {
        // A picture file that gave no picture is named on a second line.
        const std::string why = scenario->pictureFailure();
        prompter.showError(why.empty() ? std::string(NoPictureMessage)
                                       : std::string(NoPictureMessage) + "\n" + why);
        return ExitRefused;
    }
    const QImage image = ImageBufferToQImage(*picture);
    scenario->release(picture, frame);
    if (image.isNull()) {
        prompter.showError(NoPictureMessage);
        return ExitRefused;
    }
    if (!savePng(image, out)) {
        prompter.showError(SaveFailedMessage);
        return ExitRefused;
    }
    return ExitOk;
}

} // namespace

} // namespace vorn::cli
