// Linking and validation of a scenario after reading (or after the editor changed it).
#include "scenario/reader/linker.h"

#include "base/result.h"
#include "scenario/model/blocks/action.h"
#include "scenario/model/blocks/mosaic.h"
#include "scenario/model/blocks/rotate.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/reader.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vorn {

namespace {

// Name -> the first block of that name in list order, the block findBlock would give. Built
// once per link so that lookups and the duplicate test stay linear in the number of blocks.
class BlockIndex {
public:
    explicit BlockIndex(const Scenario &scenario)
    {
        m_first.reserve(scenario.blocks.size());
        for (const auto &block : scenario.blocks) {
            if (block->name)
                m_first.try_emplace(*block->name, Entry{block.get(), 0}).first->second.count++;
        }
    }
    Block *find(const std::optional<SjisString> &name) const
    {
        if (!name)
            return nullptr;
        auto it = m_first.find(*name);
        return it == m_first.end() ? nullptr : it->second.block;
    }
    bool isDuplicated(const std::optional<SjisString> &name) const
    {
        if (!name)
            return false;
        auto it = m_first.find(*name);
        return it != m_first.end() && it->second.count > 1;
    }

private:
    struct Entry {
        Block *block;
        int32_t count;
    };
    std::unordered_map<std::string_view, Entry> m_first;
};

void applyKindDefaults(Block &block, const Rect &full, const Scenario &scenario)
{
    switch (block.kind) {
    case BlockKind::Focus: {
        auto &action = static_cast<ActionBlock &>(block);
        action.dstStart = full;
        action.dstEnd = full;
        break;
    }
    case BlockKind::Slide: {
        auto &action = static_cast<ActionBlock &>(block);
        action.dspStart = full;
        action.dspEnd = full;
        break;
    }
    case BlockKind::Zoom: {
        auto &action = static_cast<ActionBlock &>(block);
        action.dstStart = full;
        action.dstEnd = full;
        action.dspStart = full;
        action.dspEnd = full;
        break;
    }
    case BlockKind::Rotate: {
        auto &rotate = static_cast<RotateBlock &>(block);
        if (!rotate.hasCenter) {
            rotate.centerX = scenario.screenWidth / 2;
            rotate.centerY = scenario.screenHeight / 2;
        }
        break;
    }
    case BlockKind::Mosaic: {
        auto &mosaic = static_cast<MosaicBlock &>(block);
        if (!mosaic.hasTgtStart)
            mosaic.tgtStart = full;
        if (!mosaic.hasTgtEnd)
            mosaic.tgtEnd = full;
        break;
    }
    default:
        break;
    }
}

std::string nameForMessage(const std::optional<SjisString> &name)
{
    return name ? sjisToUtf8(*name) : std::string();
}

// The depth-first walk that finds loops and measures how deeply blocks nest, either through
// inputs alone or through inputs and BGIMAGE references. With an explicit stack, so a long chain
// of blocks cannot exhaust the stack here; blocks finished once are not walked again, so the
// first loop met is the one a plain recursive walk would meet, at linear cost.
//
// Through inputs alone a block met again on the current path is a loop. With BGIMAGE references
// too, such a block closes a circle through some BGIMAGE (loops of inputs alone or of BGIMAGEs
// alone are refused before): a background showing an ancestor is allowed, rendering stops such a
// circle at the frame where it would turn, and the edge is left out of the height.
class BlockWalk {
public:
    BlockWalk(const Scenario &scenario, bool withBackgrounds) : m_withBackgrounds(withBackgrounds)
    {
        m_index.reserve(scenario.blocks.size());
        for (size_t i = 0; i < scenario.blocks.size(); ++i)
            m_index.emplace(scenario.blocks[i].get(), i);
        m_state.assign(scenario.blocks.size(), Unseen);
        m_height.assign(scenario.blocks.size(), 0);
    }

    // Walks everything below `root`. Through inputs alone: the block met again on the current
    // path, or null when nothing below `root` loops. With backgrounds: null.
    const Block *walk(const Block *root)
    {
        if (!m_index.count(root) || stateOf(root) == Done)
            return nullptr;
        struct Step {
            const Block *block;
            size_t next;
            int32_t below;  // greatest height among the blocks below finished so far
        };
        std::vector<Step> path;
        enter(root);
        path.push_back({root, 0, 0});
        while (!path.empty()) {
            Step &top = path.back();
            const size_t edges = top.block->inputs.size() +
                                 (m_withBackgrounds && top.block->bgImage ? 1 : 0);
            if (top.next < edges) {
                const size_t edge = top.next++;
                const Block *child = edge < top.block->inputs.size()
                                         ? top.block->inputs[edge]->block
                                         : top.block->bgImage->block;
                if (!child)
                    continue;
                const size_t at = m_index.at(child);
                if (m_state[at] == OnPath) {
                    if (m_withBackgrounds)
                        continue;
                    return child;
                }
                if (m_state[at] == Done) {
                    top.below = std::max(top.below, m_height[at]);
                    continue;
                }
                enter(child);
                path.push_back({child, 0, 0});
                continue;
            }
            const size_t at = m_index.at(top.block);
            m_state[at] = Done;
            m_height[at] = top.below + 1;
            const int32_t height = m_height[at];
            path.pop_back();
            if (!path.empty())
                path.back().below = std::max(path.back().below, height);
        }
        return nullptr;
    }

    // Blocks in the longest chain walked from `block` down to a source, itself included.
    int32_t height(const Block *block) const { return m_height[m_index.at(block)]; }

private:
    enum State : uint8_t { Unseen, OnPath, Done };
    State stateOf(const Block *block) const { return m_state[m_index.at(block)]; }
    void enter(const Block *block) { m_state[m_index.at(block)] = OnPath; }

    bool m_withBackgrounds;
    std::unordered_map<const Block *, size_t> m_index;
    std::vector<State> m_state;
    std::vector<int32_t> m_height;
};

// The first block, following BGIMAGE references from each block in list order, that reaches
// itself through BGIMAGE references alone (naming itself included), or null. Each block has at
// most one background, so following them from every block once is linear.
const Block *findBackgroundLoop(const Scenario &scenario)
{
    enum State : uint8_t { Unseen, OnPath, Done };
    std::unordered_map<const Block *, State> state;
    state.reserve(scenario.blocks.size());
    std::vector<const Block *> path;
    for (const auto &start : scenario.blocks) {
        path.clear();
        const Block *block = start.get();
        while (block && state[block] == Unseen) {
            state[block] = OnPath;
            path.push_back(block);
            block = block->bgImage ? block->bgImage->block : nullptr;
        }
        if (block && state[block] == OnPath)
            return block;
        for (const Block *done : path)
            state[done] = Done;
    }
    return nullptr;
}

} // namespace

int32_t link(Scenario &scenario)
{
    if (scenario.screenWidth == -1 || scenario.screenHeight == -1) {
        reportError(scenario, "スクリーンサイズが定義されていません。", nullptr);
        return Failed;
    }
    if (!scenario.mainInput.block) {
        reportError(scenario, "MAINブロックが定義されていません。", nullptr);
        return Failed;
    }
    if (scenario.usesAudioLink && !scenario.audio) {
        reportError(scenario, "音楽連動機能を利用するには、音楽ファイルを指定して下さい。",
                    nullptr);
        return Failed;
    }

    const BlockIndex index(scenario);
    for (const auto &block : scenario.blocks) {
        block->scenario = &scenario;
        // The first block (in list order) whose name comes again later.
        if (index.isDuplicated(block->name)) {
            reportError(scenario,
                        formatMessage("シーン %s は複数定義されています。",
                                      nameForMessage(block->name)),
                        nullptr);
            return Failed;
        }
    }

    // Counts start again from zero, so that linking after an edit does not count twice.
    for (const auto &block : scenario.blocks)
        block->refCount = 0;

    const Rect full{0, 0, scenario.screenWidth - 1, scenario.screenHeight - 1};
    for (const auto &block : scenario.blocks) {
        applyKindDefaults(*block, full, scenario);
        for (const auto &input : block->inputs) {
            input->scenario = &scenario;
            Block *target = index.find(input->name);
            if (!target) {
                input->block = nullptr;
                reportError(scenario,
                            formatMessage("シーン %s は定義されていません。",
                                          nameForMessage(input->name)),
                            nullptr);
                return Failed;
            }
            ++target->refCount;
            input->block = target;
            if (!input->hasRect)
                input->setRect(full.left, full.top, full.right, full.bottom);
        }
        if (block->bgImage) {
            Block *target = index.find(block->bgImage->name);
            if (!target) {
                block->bgImage->block = nullptr;
                reportError(scenario,
                            formatMessage("シーン %s は定義されていません。",
                                          nameForMessage(block->bgImage->name)),
                            nullptr);
                return Failed;
            }
            block->bgImage->scenario = &scenario;
            block->bgImage->block = target;
        }
    }
    scenario.mainInput.scenario = &scenario;

    // Loops are looked for from MAIN first, then from every other block: a loop that MAIN does
    // not reach would still recurse without end when its length or picture is asked for (the
    // editor's tree and the command line ask every block).
    BlockWalk inputWalk(scenario, false);
    const Block *loop = inputWalk.walk(scenario.mainInput.block);
    for (size_t i = 0; !loop && i < scenario.blocks.size(); ++i)
        loop = inputWalk.walk(scenario.blocks[i].get());
    if (loop) {
        reportError(scenario,
                    formatMessage("シーン %s がループ呼び出しされています。",
                                  nameForMessage(loop->name)),
                    nullptr);
        return Failed;
    }
    // A picture that is its own background, directly or through other backgrounds, could
    // never be made.
    if (const Block *backgroundLoop = findBackgroundLoop(scenario)) {
        reportError(scenario,
                    formatMessage("シーン %s がBGIMAGEでループ呼び出しされています。",
                                  nameForMessage(backgroundLoop->name)),
                    nullptr);
        return Failed;
    }
    // Lengths and key frames recurse through inputs, pictures through inputs and backgrounds:
    // bound the depth they can reach.
    BlockWalk fullWalk(scenario, true);
    for (const auto &block : scenario.blocks)
        fullWalk.walk(block.get());
    for (const auto &block : scenario.blocks) {
        const char *tooDeep = nullptr;
        if (inputWalk.height(block.get()) > MaxInputNesting)
            tooDeep = "シーン %s の入力の入れ子が深すぎます。";
        else if (fullWalk.height(block.get()) > MaxInputNesting)
            tooDeep = "シーン %s の入力とBGIMAGEの入れ子が深すぎます。";
        if (tooDeep) {
            reportError(scenario, formatMessage(tooDeep, nameForMessage(block->name)), nullptr);
            return Failed;
        }
    }

    for (const auto &block : scenario.blocks)
        block->frameCountCache = -1;
    scenario.totalFrames = scenario.mainInput.block->frameCount();

    for (Checkpoint &checkpoint : scenario.checkpoints)
        resolveCheckpoint(checkpoint, scenario.frameRate, scenario.scale);

    for (const auto &block : scenario.blocks) {
        if (block->validate(scenario.prompter) != Ok)
            return Failed;
    }
    return Ok;
}

} // namespace vorn
