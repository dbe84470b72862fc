// Scenario: creation, the MAIN block, lookup, the loop walk and the editor's deep copy.
#include "scenario/model/scenario.h"

#include "base/prompter.h"
#include "scenario/model/blocks.h"

#include <mutex>
#include <new>

namespace vorn {
namespace {

int32_t setScenarioText(std::optional<SjisString> &field, std::string_view text)
{
    try {
        field = SjisString(text);
    } catch (const std::bad_alloc &) {
        field.reset();
        return -1;
    }
    return 0;
}

} // namespace

Scenario::Scenario()
{
    mainInput.scenario = this;
}

Scenario::Scenario(const Scenario &other)
    : version(other.version),
      path(other.path),
      audio(other.audio),
      usesAudioLink(other.usesAudioLink),
      mainInput(other.mainInput),
      screenWidth(other.screenWidth),
      screenHeight(other.screenHeight),
      boardBreak(other.boardBreak),
      totalFrames(0),
      frameRate(other.frameRate),
      scale(other.scale),
      previewScale(other.previewScale),
      startFrame(other.startFrame),
      prompter(other.prompter),
      checkpoints(other.checkpoints),
      filesRead(other.filesRead),
      handWritten(other.handWritten)
{
    mainInput.scenario = this;
    blocks.reserve(other.blocks.size());
    for (const auto &block : other.blocks) {
        auto copy = copyBlock(*block);
        if (!copy) {
            m_copyFailed = true;
            if (prompter)
                prompter->showError("シナリオコピーコンストラクタにおいて問題が発生しました。");
            return;
        }
        if (copy->kind == BlockKind::Main && !mainInput.block)
            mainInput.block = copy.get();
        blocks.push_back(std::move(copy));
    }
}

Scenario::~Scenario() = default;

std::unique_ptr<Scenario> Scenario::copyOf(const Scenario &other)
{
    try {
        auto copy = std::make_unique<Scenario>(other);
        if (copy->copyFailed())
            return nullptr;
        return copy;
    } catch (const std::bad_alloc &) {
        if (other.prompter)
            other.prompter->showError("シナリオコピーコンストラクタにおいて問題が発生しました。");
        return nullptr;
    }
}

Block *Scenario::findBlock(std::string_view name) const
{
    for (const auto &block : blocks)
        if (block->name && *block->name == name)
            return block.get();
    return nullptr;
}

int32_t Scenario::createMain()
{
    if (mainInput.block)
        return -1;
    try {
        auto main = std::make_unique<SeriesBlock>(BlockKind::Main);
        main->name = " ";
        mainInput.name = " ";
        mainInput.block = main.get();
        blocks.insert(blocks.begin(), std::move(main));
    } catch (const std::bad_alloc &) {
        mainInput.block = nullptr;
        return -1;
    }
    return 0;
}

std::optional<SjisString> Scenario::findLoop(std::set<SjisString> &visited) const
{
    return mainInput.findLoop(visited);
}

std::optional<SjisString> Scenario::findLoop() const
{
    std::set<SjisString> visited;
    return findLoop(visited);
}

ImageBuffer *Scenario::render(int32_t frame)
{
    {
        std::lock_guard guard(m_failureLock);
        m_pictureFailure.clear();
    }
    return mainInput.render(frame);
}

std::string Scenario::pictureFailure() const
{
    std::lock_guard guard(m_failureLock);
    return m_pictureFailure;
}

void Scenario::notePictureFailure(std::string text)
{
    std::lock_guard guard(m_failureLock);
    m_pictureFailure = std::move(text);
}

void Scenario::release(ImageBuffer *image, int32_t frame)
{
    mainInput.release(image, frame);
}

std::vector<int32_t> Scenario::keyFrames() const
{
    KeyFrameSink sink;
    if (mainInput.block)
        mainInput.block->collectKeyFrames(0, int64_t(totalFrames) - 1, 0, sink);
    std::vector<int32_t> frames;
    for (const int64_t frame : sink.sortedFrames())
        if (frame >= 0 && frame < totalFrames)
            frames.push_back(int32_t(frame));
    return frames;
}

namespace {

void dropBlank(BlockInput &input)
{
    std::lock_guard guard(input.lock);
    input.blankImage.reset();
}

} // namespace

void Scenario::dropCaches()
{
    dropBlank(mainInput);
    for (auto &block : blocks) {
        {
            std::lock_guard guard(block->lock);
            block->dropCaches();
        }
        for (auto &input : block->inputs)
            dropBlank(*input);
        if (block->bgImage)
            dropBlank(*block->bgImage);
    }
}

int32_t Scenario::setPath(std::string_view text)
{
    return setScenarioText(path, text);
}

int32_t Scenario::setAudio(std::string_view text)
{
    return setScenarioText(audio, text);
}

int32_t Scenario::setVersion(std::string_view text)
{
    return setScenarioText(version, text);
}

} // namespace vorn
