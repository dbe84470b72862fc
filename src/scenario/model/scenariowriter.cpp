// The scenario file writer: header, settings, blocks and checkpoints in the canonical layout.
#include "scenario/model/scenariowriter.h"

#include "base/scenariopath.h"
#include "scenario/model/linewriter.h"
#include "scenario/model/scenario.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace vorn {
namespace {

const std::string Rule(80, '#');

} // namespace

std::string formatHeaderDate(const std::tm &time)
{
    // Formatted by hand rather than with strftime: "%a" follows LC_TIME, which a GUI
    // application sets from the environment.
    static const char *const Weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const int weekday = time.tm_wday >= 0 && time.tm_wday < 7 ? time.tm_wday : 0;
    char text[64];
    // The year in 64 bits: a far-off SOURCE_DATE_EPOCH gives tm_year near INT_MAX.
    std::snprintf(text, sizeof text, "%04lld/%02d/%02d(%s) %02d:%02d:%02d",
                  static_cast<long long>(time.tm_year) + 1900,
                  time.tm_mon + 1, time.tm_mday, Weekdays[weekday], time.tm_hour, time.tm_min,
                  time.tm_sec);
    return text;
}

std::string scenarioHeaderDate()
{
    std::tm parts{};
    if (const char *epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch && *epoch) {
        char *end = nullptr;
        errno = 0;
        const long long seconds = std::strtoll(epoch, &end, 10);
        if (errno == 0 && end && *end == '\0') {
            const auto time = static_cast<std::time_t>(seconds);
            if (gmtime_r(&time, &parts))
                return formatHeaderDate(parts);
        }
    }
    const std::time_t now = std::time(nullptr);
    if (!localtime_r(&now, &parts))
        gmtime_r(&now, &parts);
    return formatHeaderDate(parts);
}

std::string formatTotalTime(int32_t totalFrames, int32_t scale, int32_t frameRate)
{
    const double seconds =
        frameRate > 0 ? double(totalFrames) * double(scale) / double(frameRate) : 0.0;
    // to_chars ignores the locale's decimal separator, unlike printf.
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed, 3);
    if (result.ec != std::errc())
        return "0.000";
    return std::string(text, result.ptr);
}

SjisString headerFileName(const std::filesystem::path &fileName)
{
    const std::string utf8 = fileName.string();
    if (auto whole = utf8ToSjis(utf8))
        return *whole;
    SjisString text;
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
        length = std::min(length, utf8.size() - i);
        const auto piece = utf8ToSjis(std::string_view(utf8).substr(i, length));
        text += piece ? *piece : SjisString("?");
        i += length;
    }
    return text;
}

int32_t writeScenarioLines(const Scenario &scenario, std::string_view fileNameSjis,
                           std::string_view date, LineSink &out)
{
    LinePrinter print(out);
    print(Rule);
    print("# Vorn Scenario file - " + std::string(date) + " ");
    if (scenario.version)
        print("#     Vorn version \t: " + commentText(*scenario.version));
    print("#     File name \t: " + inQuotes(commentText(fileNameSjis)));
    print("#     Total frames \t: " + num(scenario.totalFrames));
    print("#     Total time \t: " +
          formatTotalTime(scenario.totalFrames, scenario.scale, scenario.frameRate) + " [sec]");
    print(Rule);
    print("");
    print("SCREEN\t\t" + num(scenario.screenWidth) + "\t" + num(scenario.screenHeight));
    if (scenario.audio)
        print("AUDIO\t\t" + inQuotes(*scenario.audio));
    print("FRAMERATE\t" + num(scenario.frameRate));
    print("SCALE\t\t" + num(scenario.scale));
    print("PREVIEWSCALE\t" + num(scenario.previewScale));
    print("BOARDBREAK\t" + num(scenario.boardBreak));
    print("STARTFRAME\t" + num(scenario.startFrame));
    print("");
    print(Rule);
    for (const auto &block : scenario.blocks)
        print.merge(block->write(out));
    if (!scenario.checkpoints.empty()) {
        print("");
        print(Rule);
        print("");
        print("CHECKPOINT");
        print("{");
        for (const auto &checkpoint : scenario.checkpoints) {
            const auto rgb = "\t" + num(checkpoint.colour.red) + "\t" +
                             num(checkpoint.colour.green) + "\t" + num(checkpoint.colour.blue);
            // A checkpoint whose frame could not be worked out (a frame rate of 0) keeps its
            // time: a CF line of -1 would not read back.
            if (checkpoint.frame < 0 && checkpoint.time >= 0)
                print("\tCT\t" + num(checkpoint.time) + rgb);
            else
                print("\tCF\t" + num(checkpoint.frame) + rgb);
        }
        print("}");
    }
    print("");
    print(Rule);
    return print.result();
}

namespace {

// Passes on only the lines that read back as written; the first other line is kept and the
// save fails. Names files relative to the folder the lines go to.
class ReadableLines final : public LineSink {
public:
    ReadableLines(LineSink &out, std::filesystem::path folder)
        : m_out(out), m_folder(std::move(folder))
    {
    }
    int32_t line(std::string_view bytes) override
    {
        if (readsBack(bytes))
            return m_out.line(bytes);
        if (!m_refused)
            m_refused = SjisString(bytes);
        return -1;
    }
    std::string fileName(std::string_view file,
                         const std::optional<std::string> &directory) const override
    {
        return rebasedFileName(file, directory, m_folder);
    }
    const std::optional<SjisString> &refused() const { return m_refused; }

private:
    LineSink &m_out;
    std::filesystem::path m_folder;
    std::optional<SjisString> m_refused;
};

// The folder with its links resolved, as the kernel walks it when a name is opened from it.
std::filesystem::path physicalFolder(const std::filesystem::path &folder)
{
    std::error_code error;
    auto absolute = std::filesystem::absolute(folder, error);
    if (error)
        return folder.lexically_normal();
    auto canonical = std::filesystem::weakly_canonical(absolute, error);
    return error ? absolute.lexically_normal() : canonical;
}

} // namespace

SjisString rebasedFileName(std::string_view file, const std::optional<SjisString> &directory,
                           const std::filesystem::path &folder)
{
    if (!directory || isAbsoluteScenarioName(file))
        return SjisString(file);
    const auto from = resolveScenarioName(*directory, std::string_view());
    const auto local = resolveScenarioName(file, *directory);
    if (!from || !local)
        return SjisString(file);
    const auto target = physicalFolder(folder);
    if (physicalFolder(*from) == target)
        return SjisString(file);
    // The picture's folder resolved as well, its own name kept (it may be a link itself).
    const auto picture = physicalFolder(local->parent_path()) / local->filename();
    auto relative = picture.lexically_relative(target);
    if (relative.empty())
        relative = picture;
    return pathToSjis(relative).value_or(SjisString(file));
}

int32_t writeScenario(const Scenario &scenario, const std::filesystem::path &fileName,
                      SjisString *unreadableLine, SaveFailure *why)
{
    LineWriter writer;
    if (writer.open(fileName) != 0) {
        if (why)
            *why = writer.failure();
        return -1;
    }
    // Names in the file are read from the folder of the file itself (a link's target).
    auto folder = replaceTarget(fileName).value_or(fileName).parent_path();
    if (folder.empty())
        folder = ".";
    ReadableLines readable(writer, folder);
    const int32_t written =
        writeScenarioLines(scenario, headerFileName(fileName), scenarioHeaderDate(), readable);
    if (readable.refused() && unreadableLine)
        *unreadableLine = *readable.refused();
    if (written < 0 || writer.failed() || readable.refused()) {
        if (why && !readable.refused())
            *why = writer.failure();
        writer.discard();
        return -1;
    }
    if (writer.close() != 0) {
        if (why)
            *why = writer.failure();
        return -1;
    }
    return 0;
}

std::string unreadableLineMessage(std::string_view lineSjis)
{
    // Shown under "シナリオの出力に失敗しました。": the line, its TABs as blanks.
    std::string line = sjisToUtf8(lineSjis);
    for (char &c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = c == '\t' ? ' ' : '?';
    const size_t start = line.find_first_not_of(' ');
    return "次の行は読み込み直すと別の内容になるため書き出せません"
           "（値に # \" } タブ 改行 は使えず、空の値も書けません）:\n" +
           line.substr(start == std::string::npos ? line.size() : start);
}

std::string saveFailedMessage(std::string_view unreadableLineSjis, const SaveFailure &why)
{
    std::string message = "シナリオの出力に失敗しました。";
    if (!unreadableLineSjis.empty())
        message += "\n" + unreadableLineMessage(unreadableLineSjis);
    else if (!why.empty())
        message += "\n" + why.text();
    return message;
}

} // namespace vorn
