// The block base: kind table, base operations, copying, text setters, paths and the loop walk.
#include "scenario/model/block.h"

#include "base/prompter.h"
#include "base/result.h"
#include "base/scenariopath.h"
#include "scenario/model/blockinput.h"
#include "scenario/model/linewriter.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <limits>
#include <new>

namespace vorn {
namespace {

struct KindName {
    BlockKind kind;
    std::string_view keyword;
};

constexpr std::array<KindName, 21> KindTable{{
    {BlockKind::Image, "IMAGE"},
    {BlockKind::Text, "TEXT"},
    {BlockKind::Draw, "DRAW"},
    {BlockKind::Still, "STILL"},
    {BlockKind::Rotate, "ROTATE"},
    {BlockKind::Action, "ACTION"},
    {BlockKind::Zoom, "ZOOM"},
    {BlockKind::Slide, "SLIDE"},
    {BlockKind::Focus, "FOCUS"},
    {BlockKind::Film, "FILM"},
    {BlockKind::Fade, "FADE"},
    {BlockKind::Crossfade, "CROSSFADE"},
    {BlockKind::Mix, "MIX"},
    {BlockKind::Series, "SERIES"},
    {BlockKind::Shake, "SHAKE"},
    {BlockKind::Mosaic, "MOSAIC"},
    {BlockKind::Expand, "EXPAND"},
    {BlockKind::Cut, "CUT"},
    {BlockKind::Alpha, "ALPHA"},
    {BlockKind::Shade, "SHADE"},
    {BlockKind::Main, "MAIN"},
}};

int32_t setText(std::optional<SjisString> &field, std::optional<std::string_view> text)
{
    if (!text)
        return NullArgument;
    try {
        field = SjisString(*text);
    } catch (const std::bad_alloc &) {
        field.reset();
        return OutOfMemory;
    }
    return Ok;
}

} // namespace

int32_t kindCode(BlockKind kind)
{
    // Conversion to a signed type is modular since C++20: 0x80000000 becomes INT32_MIN.
    return static_cast<int32_t>(static_cast<uint32_t>(kind));
}

std::optional<BlockKind> kindFromCode(int32_t code)
{
    for (const auto &entry : KindTable)
        if (kindCode(entry.kind) == code)
            return entry.kind;
    return std::nullopt;
}

std::string_view kindKeyword(BlockKind kind)
{
    for (const auto &entry : KindTable)
        if (entry.kind == kind)
            return entry.keyword;
    return {};
}

std::optional<BlockKind> kindFromKeyword(std::string_view keyword)
{
    for (const auto &entry : KindTable)
        if (entry.keyword == keyword)
            return entry.kind;
    return std::nullopt;
}

Block::Block(BlockKind kind) : kind(kind) {}

Block::Block(const Block &other)
    : kind(other.kind),
      directory(other.directory),
      file(other.file),
      name(other.name),
      frames(other.frames),
      color(other.color),
      bgColor(other.bgColor),
      refCount(other.refCount)
{
    inputs.reserve(other.inputs.size());
    for (const auto &input : other.inputs)
        inputs.push_back(std::make_unique<BlockInput>(*input));
    if (other.bgImage)
        bgImage = std::make_unique<BlockInput>(*other.bgImage);
    std::lock_guard guard(other.lock);
    pending = other.pending;
}

Block::~Block() = default;

ImageBuffer *Block::render(int32_t)
{
    return nullptr;
}

void Block::release(ImageBuffer *, int32_t) {}

bool Block::isKeyFrame(int32_t)
{
    return false;
}

size_t KeyFrameSink::RequestHash::operator()(const Request &r) const
{
    size_t h = std::hash<const Block *>()(r.block);
    for (const int64_t v : {r.first, r.last, r.offset})
        h = h * 1000003u ^ std::hash<int64_t>()(v);
    return h;
}

bool KeyFrameSink::firstRequest(const Block *block, int64_t first, int64_t last, int64_t offset)
{
    // Only repeated requests save work, and a tree of many distinct ones would make the memory
    // grow with every visit: past a million, new requests are answered without being kept.
    constexpr size_t MostRemembered = size_t(1) << 20;
    const Request request{block, first, last, offset};
    if (m_requests.size() >= MostRemembered)
        return !m_requests.count(request);
    return m_requests.insert(request).second;
}

std::vector<int64_t> KeyFrameSink::sortedFrames() const
{
    std::vector<int64_t> sorted = frames;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    return sorted;
}

void Block::collectKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    first = std::max<int64_t>(first, 0);
    last = std::min<int64_t>(last, int64_t(frameCount()) - 1);
    if (first > last || !out.firstRequest(this, first, last, offset))
        return;
    addKeyFrames(first, last, offset, out);
}

void Block::addKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    for (int64_t frame = first; frame <= last; ++frame)
        if (isKeyFrame(int32_t(frame)))
            out.add(offset + frame);
}

int32_t Block::trace(int32_t, int32_t, std::vector<std::string> &)
{
    return Failed;
}

int32_t Block::frameCount()
{
    return cacheFrameCount(0);
}

int32_t Block::validate(Prompter *)
{
    return Ok;
}

int32_t Block::write(LineSink &) const
{
    return Failed;
}

int32_t Block::setDirectory(std::optional<std::string_view> text)
{
    return setText(directory, text);
}

int32_t Block::setFile(std::optional<std::string_view> text)
{
    return setText(file, text);
}

int32_t Block::setName(std::optional<std::string_view> text)
{
    return setText(name, text);
}

int32_t Block::buildPath()
{
    path.reset();
    if (!directory)
        return NoDirectory;
    if (!file)
        return Ok;
    try {
        // A scenario names files with '\' separators; the path keeps that form and is turned
        // into a local path only when a file is opened.
        if (isAbsoluteScenarioName(*file))
            path = *file;
        else
            path = *directory + "\\" + *file;
    } catch (const std::bad_alloc &) {
        path.reset();
        return OutOfMemory;
    }
    return Ok;
}

std::optional<std::filesystem::path> Block::localFilePath() const
{
    if (!file)
        return std::nullopt;
    if (!isAbsoluteScenarioName(*file) && !directory)
        return std::nullopt;
    return resolveScenarioName(*file, directory ? std::string_view(*directory) : std::string_view());
}

std::string Block::displayName() const
{
    return name ? sjisToUtf8(*name) : std::string();
}

std::optional<SjisString> Block::findLoop(std::set<SjisString> &visited) const
{
    std::set<const Block *> finished;
    return findLoop(visited, finished);
}

std::optional<SjisString> Block::findLoop(std::set<SjisString> &visited,
                                          std::set<const Block *> &finished) const
{
    const SjisString own = name.value_or(SjisString());
    if (visited.count(own))
        return own;
    // A block whose inputs were walked without meeting a loop cannot be part of one (it would
    // have met itself), so shared sub-trees are walked once instead of once per path.
    if (finished.count(this))
        return std::nullopt;
    visited.insert(own);
    for (const auto &input : inputs) {
        if (auto found = input->findLoop(visited, finished)) {
            visited.erase(own);
            return found;
        }
    }
    visited.erase(own);
    finished.insert(this);
    return std::nullopt;
}

int32_t Block::cacheFrameCount(int64_t frames)
{
    const auto value = static_cast<int32_t>(
        std::clamp<int64_t>(frames, 0, std::numeric_limits<int32_t>::max()));
    frameCountCache = value;
    return value;
}

int32_t Block::validateFile(Prompter *reportError, int32_t failCode)
{
    if (!file) {
        path.reset();
        return Ok;
    }
    const auto local = localFilePath();
    if (!local || !isReadableFile(*local)) {
        report(reportError,
               fillMessage("ブロック %s で指定されたファイルを開くことができません。\nファイル：%s",
                           {displayName(), sjisToUtf8(*file)}));
        return failCode;
    }
    const int32_t built = buildPath();
    if (built == NoDirectory)
        path = *file;  // an absolute name opened above needs no directory
    else if (built < 0)
        return built;
    return Ok;
}

int32_t Block::ownFrameCount(int64_t length)
{
    if (frameCountCache >= 0)
        return frameCountCache;
    for (auto &input : inputs)
        input->startOffset = 0;
    return cacheFrameCount(length);
}

int32_t Block::writeHead(LineSink &out) const
{
    LinePrinter print(out);
    print("");
    if (kind == BlockKind::Main)
        print("MAIN");
    else
        print(std::string(kindKeyword(kind)) + "\t" + inQuotes(name.value_or(SjisString())));
    print("{");
    print("\t# RefCount = " + num(refCount));
    return print.result();
}

void Block::report(Prompter *reportError, std::string_view message)
{
    if (reportError)
        reportError->showError(message);
}

std::string Block::fillMessage(std::string_view pattern,
                               std::initializer_list<std::string_view> arguments)
{
    std::string text;
    auto next = arguments.begin();
    size_t from = 0;
    while (true) {
        const size_t at = pattern.find("%s", from);
        if (at == std::string_view::npos || next == arguments.end())
            break;
        text.append(pattern.substr(from, at - from));
        text.append(*next++);
        from = at + 2;
    }
    text.append(pattern.substr(from));
    return text;
}

bool Block::isReadableFile(const std::filesystem::path &local)
{
    std::error_code error;
    if (std::filesystem::is_directory(local, error))
        return false;
    std::ifstream stream(local, std::ios::binary);
    return stream.is_open();
}

int32_t Block::firstInputLength()
{
    for (auto &input : inputs)
        input->startOffset = 0;
    return inputs.empty() ? 0 : inputs.front()->frameCount();
}

BlockInput *Block::firstInput() const
{
    return inputs.empty() ? nullptr : inputs.front().get();
}

} // namespace vorn
