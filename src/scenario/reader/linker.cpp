// Linking and validation of a scenario after reading (or after the editor changed it).
#include "scenario/reader/linker.h"

#include "base/result.h"
#include "scenario/model/blocks/action.h"
#include "scenario/model/blocks/mosaic.h"
#include "scenario/model/blocks/rotate.h"
#include "scenario/model/scenario.h"
#include "scenario/reader/reader.h"

#include <string_view>
#include <unordered_map>

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

    if (auto loop = scenario.findLoop()) {
        reportError(scenario,
                    formatMessage("シーン %s がループ呼び出しされています。", sjisToUtf8(*loop)),
                    nullptr);
        return Failed;
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
