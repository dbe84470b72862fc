// The scenario text reader: files, the statement loop, global statements and value readers.
#include "scenario/reader/reader.h"

#include "base/cancel.h"
#include "base/prompter.h"
#include "base/result.h"
#include "base/scenariopath.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/blockgrammar.h"
#include "scenario/reader/expression.h"
#include "scenario/reader/macro.h"
#include "scenario/reader/readerstate.h"
#include "scenario/reader/sourcetext.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn {

namespace {

constexpr std::string_view ErrorHeading = "シナリオ読み込み時にエラーが発生しました。\n";
constexpr std::string_view StatementDelimiters = " \t\n(";
constexpr std::string_view IntegerDelimiters = " \t\n}";
constexpr std::string_view QuotedDelimiters = "\t\"\n}";
constexpr size_t TokenBufferSize = 256;  // 255 bytes and the terminating NUL
constexpr uint64_t SizeToConfirm = 10u * 1024u * 1024u;
constexpr std::string_view IncludesOverBudget = "INCLUDE で読み込むファイルの合計が大きすぎます。";

thread_local int t_nesting = 0;
thread_local size_t t_expansionBytes = 0;
thread_local size_t t_expansions = 0;
thread_local size_t t_substitutionWork = 0;
thread_local size_t t_includes = 0;
thread_local size_t t_includedBytes = 0;

// A top-level load or loadText starts with the whole budget.
void resetBudgets()
{
    if (t_nesting != 0)
        return;
    t_expansionBytes = 0;
    t_expansions = 0;
    t_substitutionWork = 0;
    t_includes = 0;
    t_includedBytes = 0;
}

void showError(Scenario &scenario, std::string_view text)
{
    if (scenario.prompter)
        scenario.prompter->showError(text);
}

// The directory against which relative names are resolved: the directory of the file being
// read, or the process's working directory for a text read at the top level.
SjisString directoryForNames(const Scenario &scenario)
{
    if (scenario.currentDirectory)
        return *scenario.currentDirectory;
    std::error_code error;
    const auto cwd = std::filesystem::current_path(error);
    if (error)
        return SjisString();
    return pathToSjis(cwd).value_or(SjisString());
}

enum class ReadOutcome { Ok, Failed, Declined, OverBudget };

// Whether `data` holds a comment that the writer would not write again: anything but its
// header lines, its rules of '#' and the RefCount line, each alone on its line.
bool hasOwnComments(std::string_view data)
{
    static constexpr std::string_view Written[] = {
        "# Vorn Scenario file - ", "#     Vorn version \t: ", "#     File name \t: ",
        "#     Total frames \t: ", "#     Total time \t: ", "# RefCount = "};
    for (size_t start = 0; start < data.size();) {
        size_t end = data.find('\n', start);
        if (end == std::string_view::npos)
            end = data.size();
        const std::string_view line = data.substr(start, end - start);
        start = end + 1;
        const size_t hash = line.find('#');
        if (hash == std::string_view::npos)
            continue;
        if (line.find_first_not_of(" \t") != hash)
            return true;
        std::string_view comment = line.substr(hash);
        if (!comment.empty() && comment.back() == '\r')
            comment.remove_suffix(1);
        const bool rule = comment.find_first_not_of('#') == std::string_view::npos;
        const bool header = std::any_of(std::begin(Written), std::end(Written),
                                        [&](std::string_view w) { return comment.rfind(w, 0) == 0; });
        if (!rule && !header)
            return true;
    }
    return false;
}

// Closes a descriptor on every path.
struct FileDescriptor {
    int fd = -1;
    ~FileDescriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Reads the whole file. Over SizeToConfirm bytes it asks first; a "no" declines silently.
// Only regular files: a FIFO would block at the open and a device or /proc file gives no true
// size. The type is checked before opening and again on the opened file, which is opened
// without blocking, so a file swapped for a FIFO in between cannot stall the reader either.
// `included`: the file is read for an INCLUDE, and its bytes count against that budget.
ReadOutcome readWholeFile(Scenario &scenario, const std::filesystem::path &path,
                          std::string_view nameSjis, bool included, std::string &data,
                          FileIdentity &identity)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return ReadOutcome::Failed;
    FileDescriptor file;
    file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode))
        return ReadOutcome::Failed;
    identity = FileIdentity{st.st_dev, st.st_ino, st.st_size, st.st_mtim};
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    // Over the INCLUDE budget the file is refused before anyone is asked about its size.
    if (included) {
        if (size > MaxIncludedBytes - t_includedBytes)
            return ReadOutcome::OverBudget;
        t_includedBytes += size;
    }
    if (size > SizeToConfirm) {
        const std::string question =
            formatMessage("%s\nは、ファイルサイズが異常に大きいと思われます。続けますか？",
                          sjisToUtf8(nameSjis));
        if (!scenario.prompter || !scenario.prompter->askYesNo(question))
            return ReadOutcome::Declined;
    }
    // Positions in a text are int32.
    if (size > static_cast<uint64_t>(INT32_MAX))
        return ReadOutcome::Failed;
    try {
        data.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc &) {
        return ReadOutcome::Failed;
    }
    // Exactly the size the file states, and then its end: a /proc or /sys file states a size
    // that its contents do not have, and a file that changes while it is read is no scenario.
    size_t done = 0;
    for (;;) {
        char probe = 0;
        const bool atSize = done == data.size();
        const ssize_t got = atSize ? ::read(file.fd, &probe, 1)
                                   : ::read(file.fd, data.data() + done, data.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (atSize && got == 0)
            return ReadOutcome::Ok;
        if (atSize || got <= 0)
            return ReadOutcome::Failed;
        done += static_cast<size_t>(got);
    }
}

int32_t readVariableDefinition(Scenario &scenario, SourceText &text)
{
    auto fail = [&]() {
        reportError(scenario, "不正な記述があります。", &text);
        return Failed;
    };
    if (text.peek() != '(')
        return fail();
    text.advance();
    text.skip(Blanks);
    auto name = readToken(scenario, text, TokenBufferSize, " \t\n)");
    if (!name)
        return fail();
    text.skip(Blanks);
    if (text.peek() != ')')
        return fail();
    text.advance();
    text.skip(Blanks);
    if (text.peek() != '=')
        return fail();
    text.advance();
    text.skip(Blanks);
    int32_t value = 0;
    if (readExpressionValue(scenario, text, value, "数値") != Ok)
        return fail();
    scenario.variables.add(ScenarioVariable{std::move(*name), std::to_string(value)});
    return Ok;
}

// The window's properties dialog takes screens up to this size; a larger one could not be
// rendered anyway (a frame's colour and alpha planes alone take 4 bytes a pixel, 400 MB here).
constexpr int32_t MaxScreenSide = 10000;

int32_t readScreen(Scenario &scenario, SourceText &text)
{
    constexpr int checks = CheckLowest | CheckHighest;
    text.skip(Blanks);
    if (readInteger(scenario, text, scenario.screenWidth, "スクリーン幅", checks, 0,
                    MaxScreenSide) != Ok)
        return Failed;
    text.skip(Blanks);
    return readInteger(scenario, text, scenario.screenHeight, "スクリーン高", checks, 0,
                       MaxScreenSide);
}

int32_t readSetting(Scenario &scenario, SourceText &text, int32_t &field, std::string_view label,
                    int32_t lowest = 0)
{
    text.skip(Blanks);
    return readInteger(scenario, text, field, label, CheckLowest, lowest, 0);
}

// Text that is no Shift-JIS scenario is named before any statement is read: a UTF-8 file
// would otherwise fail at its first word with that word as mojibake, and a NUL byte would
// end a name early or reach the writer. At the line of the first offending byte.
bool refuseForeignText(Scenario &scenario, SourceText &text)
{
    const std::string_view data = text.data();
    if (data.starts_with("\xEF\xBB\xBF")) {
        reportError(scenario,
                    "このファイルは UTF-8 で書かれています (先頭に BOM があります)。"
                    "シナリオは Shift-JIS で保存してください。",
                    &text);
        return true;
    }
    if (const size_t nul = data.find('\0'); nul != std::string_view::npos) {
        text.setPosition(int32_t(nul));
        reportError(scenario,
                    "このファイルには NUL バイト (0x00) が含まれています。"
                    "テキストファイルではないか、壊れています。",
                    &text);
        return true;
    }
    return false;
}

int32_t readAudio(Scenario &scenario, SourceText &text)
{
    text.skip(Blanks);
    auto name = readQuotedString(scenario, text, "オーディオファイル名");
    if (!name)
        return Failed;
    SjisString full = isAbsoluteScenarioName(*name)
                          ? *name
                          : directoryForNames(scenario) + "\\" + *name;
    // Opened for existence only: a directory or a name that cannot exist here is no song.
    bool exists = false;
    if (auto local = resolveScenarioName(full, std::string_view())) {
        std::error_code error;
        exists = std::filesystem::exists(*local, error) &&
                 !std::filesystem::is_directory(*local, error);
    }
    if (!exists) {
        reportError(scenario, "音楽ファイルを開くことができません。", &text);
        return Failed;
    }
    scenario.audio = std::move(full);
    return Ok;
}

int32_t loadFile(Scenario &scenario, std::string_view fileName, SourceText *including);

int32_t readInclude(Scenario &scenario, SourceText &text)
{
    text.skip(Blanks);
    auto name = readQuotedString(scenario, text, "ファイル名");
    if (!name)
        return Failed;
    ReaderNesting nesting(scenario);
    if (!nesting.entered()) {
        reportError(scenario, "INCLUDE の入れ子が深すぎます。", &text);
        return Failed;
    }
    if (t_includes >= MaxIncludes) {
        reportError(scenario, IncludesOverBudget, &text);
        return Failed;
    }
    ++t_includes;
    return loadFile(scenario, *name, &text);
}

int32_t readBlock(Scenario &scenario, SourceText &text, BlockParser parser,
                  std::string_view keyword)
{
    std::unique_ptr<Block> block = parser(scenario, text, keyword);
    if (!block)
        return Failed;
    block->directory = scenario.currentDirectory;
    if (keyword == "MAIN") {
        if (scenario.mainInput.block) {
            reportError(scenario, "複数のMAINブロックが定義されています。", &text);
            return Failed;
        }
        scenario.mainInput.block = block.get();
    }
    scenario.blocks.push_back(std::move(block));
    return Ok;
}

int32_t runStatements(Scenario &scenario, SourceText &text)
{
    for (;;) {
        // A read abandoned by the window stops without a message: nobody waits for its result.
        if (cancelRequested())
            return Failed;
        text.skip(Blanks);
        if (text.atEnd())
            return Ok;
        auto keyword = readToken(scenario, text, TokenBufferSize, StatementDelimiters);
        if (!keyword)
            return Failed;
        const std::string_view word = *keyword;
        int32_t result = Failed;
        if (word == "$") {
            result = readVariableDefinition(scenario, text);
        } else if (word == "SCREEN" || word == "FOLDER") {
            result = readScreen(scenario, text);
        } else if (word == "AUDIO") {
            result = readAudio(scenario, text);
        } else if (word == "FRAMERATE") {
            // Frames per second are frameRate / scale: 0 in either makes every time frame 0
            // or divides by zero.
            result = readSetting(scenario, text, scenario.frameRate, "フレームレート値", 1);
        } else if (word == "SCALE") {
            result = readSetting(scenario, text, scenario.scale, "スケール値", 1);
        } else if (word == "PREVIEWSCALE") {
            result = readSetting(scenario, text, scenario.previewScale,
                                 "プレビュー用フレームレート低減率");
        } else if (word == "BOARDBREAK") {
            result = readSetting(scenario, text, scenario.boardBreak, "いたわりモード用期間");
        } else if (word == "STARTFRAME") {
            result = readSetting(scenario, text, scenario.startFrame, "開始フレーム");
        } else if (word == "INCLUDE") {
            result = readInclude(scenario, text);
        } else if (word == "MACRO") {
            result = readMacroDefinition(scenario, text);
        } else if (word == "CALL") {
            result = callMacro(scenario, text);
        } else if (word == "CHECKPOINT") {
            result = readCheckpointBlock(scenario, text);
        } else if (BlockParser parser = findBlockParser(word)) {
            result = readBlock(scenario, text, parser, word);
        } else {
            reportError(scenario, formatMessage("%s の記述はできません。", sjisToUtf8(word)),
                        &text);
            result = Failed;
        }
        if (result != Ok)
            return Failed;
    }
}

// load, and INCLUDE with `including` the text that holds the INCLUDE line (where a file over
// the INCLUDE budget is reported).
int32_t loadFile(Scenario &scenario, std::string_view fileName, SourceText *including)
{
    if (!scenario.path)
        scenario.path = SjisString(fileName);

    const SjisString directory = directoryForNames(scenario);
    const auto local = resolveScenarioName(fileName, directory);
    std::string data;
    FileIdentity identity;
    ReadOutcome outcome =
        local ? readWholeFile(scenario, *local, fileName, including != nullptr, data, identity)
              : ReadOutcome::Failed;
    if (outcome == ReadOutcome::Declined)
        return Failed;
    if (outcome == ReadOutcome::OverBudget) {
        reportError(scenario, IncludesOverBudget, including);
        return Failed;
    }
    if (outcome == ReadOutcome::Failed) {
        reportError(scenario, "シナリオファイルのロードに失敗しました。", nullptr);
        return Failed;
    }

    // Names in this file are relative to its own directory; the working directory is left
    // alone (other threads share it).
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(*local, error);
    if (error)
        absolute = *local;
    const std::filesystem::path parent = absolute.lexically_normal().parent_path();
    auto fileDirectory = pathToSjis(parent);
    if (!fileDirectory) {
        reportError(scenario, notSjisMessage(parent), nullptr);
        return Failed;
    }
    std::optional<SjisString> previous = scenario.currentDirectory;
    scenario.currentDirectory = std::move(*fileDirectory);
    scenario.filesRead.push_back(ScenarioSourceFile{absolute.lexically_normal(), identity});
    if (including || hasOwnComments(data))
        scenario.handWritten = true;

    SourceText text(std::move(data), SjisString(fileName), sjisToUtf8(fileName));
    if (refuseForeignText(scenario, text))
        return Failed;
    text.prepare();
    if (runStatements(scenario, text) != Ok)
        return Failed;
    scenario.currentDirectory = std::move(previous);
    return Ok;
}

} // namespace

ReaderNesting::ReaderNesting(Scenario &)
{
    ++t_nesting;
    m_entered = t_nesting <= MaxReadNesting;
}

ReaderNesting::~ReaderNesting()
{
    --t_nesting;
}

bool ReaderNesting::chargeExpansion(size_t bytes)
{
    if (t_expansions >= MaxExpansions || bytes > MaxExpansionBytes - t_expansionBytes)
        return false;
    ++t_expansions;
    t_expansionBytes += bytes;
    return true;
}

size_t ReaderNesting::expansionBytesLeft() const
{
    return MaxExpansionBytes - t_expansionBytes;
}

size_t ReaderNesting::substitutionWorkLeft() const
{
    return MaxSubstitutionWork - t_substitutionWork;
}

void ReaderNesting::chargeSubstitutionWork(size_t bytes)
{
    t_substitutionWork += std::min(bytes, substitutionWorkLeft());
}

int32_t load(Scenario &scenario, std::string_view fileName)
{
    resetBudgets();
    const int32_t result = loadFile(scenario, fileName, nullptr);
    if (!scenario.macros.empty() || !scenario.variables.empty())
        scenario.handWritten = true;
    return result;
}

int32_t loadText(Scenario &scenario, const SourceText &source)
{
    resetBudgets();
    SourceText text(std::string(source.data()), std::nullopt, source.displayName());
    text.prepare();
    return runStatements(scenario, text);
}

void reportError(Scenario &scenario, std::string_view message, const SourceText *text)
{
    std::string composed(ErrorHeading);
    if (text) {
        const std::string name = text->fileName()
                                     ? sjisToUtf8(scenarioBaseName(*text->fileName()))
                                     : text->displayName();
        composed += name;
        composed += " : ";
        composed += std::to_string(text->lineNumber());
        composed += "行目 :\n";
    }
    composed += message;
    showError(scenario, composed);
}

std::string formatMessage(std::string_view pattern, std::string_view argument)
{
    const size_t at = pattern.find("%s");
    if (at == std::string_view::npos)
        return std::string(pattern);
    std::string out;
    out.reserve(pattern.size() + argument.size());
    out.append(pattern.substr(0, at));
    out.append(argument);
    out.append(pattern.substr(at + 2));
    return out;
}

std::optional<SjisString> readToken(Scenario &scenario, SourceText &text, size_t bufferSize,
                                    std::string_view delimiters)
{
    auto token = text.takeToken(delimiters);
    if (!token) {
        reportError(scenario, "不明なエラーが発生しました。", &text);
        return std::nullopt;
    }
    if (bufferSize != 0 && token->size() + 1 > bufferSize) {
        reportError(scenario, "一時バッファをオーバーフローしました。", &text);
        return std::nullopt;
    }
    return SjisString(*token);
}

int32_t readInteger(Scenario &scenario, SourceText &text, int32_t &value, std::string_view label,
                    int checks, int32_t lowest, int32_t highest)
{
    text.skip(Blanks);
    int32_t result = 0;
    const char first = text.peek();
    if (first == '(' || first == '$') {
        const int32_t start = text.position();
        const VariableLookup lookup = [&scenario](std::string_view name) -> const std::string * {
            const ScenarioVariable *variable = scenario.variables.find(name);
            return variable ? &variable->value : nullptr;
        };
        const int32_t code = AnalyzeExpression(text, result, lookup);
        if (code != Ok) {
            text.setPosition(start);
            reportError(scenario,
                        code == NullArgument ? "0 による割り算が発生しました。"
                                             : "変数または演算式が正しく記述されていません。",
                        &text);
            return Failed;
        }
    } else {
        auto token = text.takeToken(IntegerDelimiters);
        if (!token) {
            reportError(scenario, "シナリオ解析時に問題が発生しました。", &text);
            return Failed;
        }
        const std::string_view digits = *token;
        bool negative = false;
        for (size_t i = 0; i < digits.size(); ++i) {
            const char c = digits[i];
            if (i == 0 && c == '-') {
                negative = true;
                continue;
            }
            if (c < '0' || c > '9') {
                reportError(scenario, formatMessage("%sを正しく記述してください。", label), &text);
                return Failed;
            }
        }
        const int32_t magnitude = wrapDecimal(digits.substr(negative ? 1 : 0));
        result = negative ? static_cast<int32_t>(0u - static_cast<uint32_t>(magnitude))
                          : magnitude;
    }
    if ((checks & CheckHighest) && result > highest) {
        reportError(scenario, formatMessage("%sの上限値を超えています。", label), &text);
        return Failed;
    }
    if ((checks & CheckLowest) && result < lowest) {
        reportError(scenario, formatMessage("%sの下限値を超えています。", label), &text);
        return Failed;
    }
    value = result;
    return Ok;
}

int32_t readExpressionValue(Scenario &scenario, SourceText &text, int32_t &value,
                            std::string_view label)
{
    return readInteger(scenario, text, value, label, 0, 0, 0);
}

std::optional<SjisString> readQuotedString(Scenario &scenario, SourceText &text,
                                           std::string_view label)
{
    const auto reportQuotes = [&]() {
        reportError(scenario,
                    formatMessage("%sは正しくダブルクォーテーション(\")で括って下さい。", label),
                    &text);
    };
    text.skip(Blanks);
    if (text.peek() != '"') {
        reportQuotes();
        return std::nullopt;
    }
    text.advance();
    auto body = readToken(scenario, text, 0, QuotedDelimiters);
    if (!body) {
        reportError(scenario, "シナリオ解析時に問題が発生しました。", &text);
        return std::nullopt;
    }
    if (text.peek() != '"') {
        reportQuotes();
        return std::nullopt;
    }
    // Tab and LF end the string already; other control bytes (never part of a Shift-JIS
    // character) would go into file and block names and be written back as they are.
    const auto control = std::find_if(body->begin(), body->end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    if (control != body->end()) {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(*control)));
        reportError(scenario,
                    formatMessage("%sに制御文字 (", label) + code + ") を含めることはできません。",
                    &text);
        return std::nullopt;
    }
    text.advance();
    return body;
}

} // namespace vorn
