// BlockInput: copying and the operations that forward to the linked block.
#include "scenario/model/blockinput.h"

#include "base/cancel.h"
#include "scenario/model/block.h"
#include "scenario/model/scenario.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace vorn {

namespace {

// The blocks this thread is rendering through inputs, outermost first, each with its frame.
// Per thread: the preview and a property page may render one scenario at the same time.
thread_local std::vector<std::pair<const Block *, int32_t>> renderingNow;

// Keeps a block on renderingNow while it renders.
class Rendering {
public:
    Rendering(const Block *block, int32_t frame) { renderingNow.emplace_back(block, frame); }
    ~Rendering() { renderingNow.pop_back(); }
    Rendering(const Rendering &) = delete;
    Rendering &operator=(const Rendering &) = delete;
};

// A background may show an ancestor of its own block. When that ancestor asks again for a frame
// of a block this thread is still drawing, or the chain grows past the nesting bound, the frame
// gets no picture instead of recursing without end.
bool wouldRecurse(const Block *block, int32_t frame)
{
    return renderingNow.size() >= size_t(MaxBlockNesting) ||
           std::find(renderingNow.begin(), renderingNow.end(), std::pair(block, frame)) !=
               renderingNow.end();
}

} // namespace

BlockInput::BlockInput(SjisString name, int32_t inputMode)
    : name(std::move(name)), inputMode(inputMode)
{
}

// `scenario` is left null as well as `block`: a copy may outlive the scenario of the original,
// and linking sets both again.
BlockInput::BlockInput(const BlockInput &other)
    : hasRect(other.hasRect),
      rect(other.rect),
      cutMode(other.cutMode),
      offset(other.offset),
      name(other.name),
      inputMode(other.inputMode),
      linkVolumeAlpha(other.linkVolumeAlpha),
      startOffset(other.startOffset)
{
}

BlockInput::~BlockInput() = default;

ImageBuffer *BlockInput::render(int32_t frame)
{
    // Between blocks: a cancelled render stops here and its picture is dropped.
    if (cancelRequested())
        return nullptr;
    if (inputMode != InputBlank) {
        if (!block || wouldRecurse(block, frame))
            return nullptr;
        const Rendering rendering(block, frame);
        return block->render(frame);
    }
    if (!scenario)
        return nullptr;
    std::lock_guard guard(lock);
    if (!blankImage)
        blankImage = CreateFilledImage(scenario->screenWidth, scenario->screenHeight, 0, 0, 0, 0);
    // Each caller gets a copy: callers may draw on their picture, and a release on another
    // thread may drop the kept blank while this one is still in use.
    return CopyImage(blankImage.get()).release();
}

void BlockInput::release(ImageBuffer *image, int32_t frame)
{
    if (inputMode != InputBlank) {
        if (block)
            block->release(image, frame);
        else
            FreeImage(image);
        return;
    }
    FreeImage(image);
    if (frame >= frameCount()) {
        std::lock_guard guard(lock);
        blankImage.reset();
    }
}

int32_t BlockInput::frameCount()
{
    return block ? block->frameCount() : 0;
}

void BlockInput::collectKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out)
{
    if (block)
        block->collectKeyFrames(first, last, offset, out);
}

bool BlockInput::isKeyFrame(int32_t frame)
{
    return block ? block->isKeyFrame(frame) : false;
}

int32_t BlockInput::trace(int32_t frame, int32_t depth, std::vector<std::string> &lines)
{
    lines.push_back(std::to_string(depth));
    lines.push_back(nameOf());
    return block ? block->trace(frame, depth, lines) : -1;
}

const SjisString &BlockInput::nameOf() const
{
    static const SjisString none;
    if (block && block->name)
        return *block->name;
    return name ? *name : none;
}

void BlockInput::setRect(int32_t left, int32_t top, int32_t right, int32_t bottom)
{
    rect = Rect{left, top, right, bottom};
    hasRect = true;
}

std::optional<SjisString> BlockInput::findLoop(std::set<SjisString> &visited) const
{
    std::set<const Block *> finished;
    return findLoop(visited, finished);
}

std::optional<SjisString> BlockInput::findLoop(std::set<SjisString> &visited,
                                               std::set<const Block *> &finished) const
{
    return block ? block->findLoop(visited, finished) : std::nullopt;
}

} // namespace vorn
