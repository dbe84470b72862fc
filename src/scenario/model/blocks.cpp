// The kind-to-class table: new blocks and copies by kind code.
#include "scenario/model/blocks.h"

#include <new>

namespace vorn {
namespace {

template <typename T>
std::unique_ptr<Block> copyAs(const Block &block)
{
    const auto *typed = dynamic_cast<const T *>(&block);
    if (!typed)
        return nullptr;
    return std::make_unique<T>(*typed);
}

} // namespace

std::unique_ptr<Block> createBlock(BlockKind kind)
{
    switch (kind) {
    case BlockKind::Image:
        return std::make_unique<ImageBlock>();
    case BlockKind::Text:
        return std::make_unique<TextBlock>();
    case BlockKind::Draw:
        return std::make_unique<DrawBlock>();
    case BlockKind::Still:
        return std::make_unique<StillBlock>();
    case BlockKind::Rotate:
        return std::make_unique<RotateBlock>();
    case BlockKind::Action:
    case BlockKind::Zoom:
    case BlockKind::Slide:
    case BlockKind::Focus:
        return std::make_unique<ActionBlock>(kind);
    case BlockKind::Film:
        return std::make_unique<FilmBlock>();
    case BlockKind::Fade:
        return std::make_unique<FadeBlock>();
    case BlockKind::Crossfade:
        return std::make_unique<CrossfadeBlock>();
    case BlockKind::Mix:
        return std::make_unique<MixBlock>();
    case BlockKind::Series:
    case BlockKind::Main:
        return std::make_unique<SeriesBlock>(kind);
    case BlockKind::Shake:
        return std::make_unique<ShakeBlock>();
    case BlockKind::Mosaic:
        return std::make_unique<MosaicBlock>();
    case BlockKind::Expand:
        return std::make_unique<ExpandBlock>();
    case BlockKind::Cut:
        return std::make_unique<CutBlock>();
    case BlockKind::Alpha:
        return std::make_unique<AlphaBlock>();
    case BlockKind::Shade:
        return std::make_unique<ShadeBlock>();
    }
    return nullptr;
}

std::unique_ptr<Block> copyBlock(const Block &block)
{
    try {
        switch (block.kind) {
        case BlockKind::Image:
            return copyAs<ImageBlock>(block);
        case BlockKind::Text:
            return copyAs<TextBlock>(block);
        case BlockKind::Draw:
            return copyAs<DrawBlock>(block);
        case BlockKind::Still:
            return copyAs<StillBlock>(block);
        case BlockKind::Rotate:
            return copyAs<RotateBlock>(block);
        case BlockKind::Action:
        case BlockKind::Zoom:
        case BlockKind::Slide:
        case BlockKind::Focus:
            return copyAs<ActionBlock>(block);
        case BlockKind::Film:
            return copyAs<FilmBlock>(block);
        case BlockKind::Fade:
            return copyAs<FadeBlock>(block);
        case BlockKind::Crossfade:
            return copyAs<CrossfadeBlock>(block);
        case BlockKind::Mix:
            return copyAs<MixBlock>(block);
        case BlockKind::Series:
        case BlockKind::Main:
            return copyAs<SeriesBlock>(block);
        case BlockKind::Shake:
            return copyAs<ShakeBlock>(block);
        case BlockKind::Mosaic:
            return copyAs<MosaicBlock>(block);
        case BlockKind::Expand:
            return copyAs<ExpandBlock>(block);
        case BlockKind::Cut:
            return copyAs<CutBlock>(block);
        case BlockKind::Alpha:
            return copyAs<AlphaBlock>(block);
        case BlockKind::Shade:
            return copyAs<ShadeBlock>(block);
        }
    } catch (const std::bad_alloc &) {
    }
    return nullptr;
}

} // namespace vorn
