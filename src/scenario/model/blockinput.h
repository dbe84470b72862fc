// BlockInput: one reference from a block to another block by name (INPUT, !INPUT, BGIMAGE,
// BLOCK_FRAME), resolved to the block at linking.
#pragma once

#include "base/geometry.h"
#include "base/sjis.h"
#include "imaging/imagebuffer.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vorn {

class Block;
class KeyFrameSink;
class Scenario;

// inputMode values.
enum InputMode : int32_t {
    InputShown = 1,  // INPUT
    InputBlank = 2,  // !INPUT: the input keeps its length but shows nothing
};

// cutMode value of a STILL input with MAX_CUT.
inline constexpr int32_t MaxCut = 2;

class BlockInput {
public:
    BlockInput() = default;
    explicit BlockInput(SjisString name, int32_t inputMode = InputShown);
    // Copies every field except: a new lock, `block` null (the copy must be linked again),
    // no blank picture, `name` duplicated.
    BlockInput(const BlockInput &other);
    BlockInput &operator=(const BlockInput &) = delete;
    ~BlockInput();

    // The picture of the linked block at `frame` (owned by the caller until release). For
    // InputBlank a screen-sized picture, black with alpha 0. Null when unlinked or when the
    // block gives none.
    ImageBuffer *render(int32_t frame);
    // Hands a picture from render back (to the block, or frees the blank copy). For InputBlank
    // the kept blank is dropped once `frame` reaches the input's frame count.
    void release(ImageBuffer *image, int32_t frame);
    // The linked block's frameCount (0 when unlinked).
    int32_t frameCount();
    bool isKeyFrame(int32_t frame);
    // The linked block's collectKeyFrames (nothing when unlinked).
    void collectKeyFrames(int64_t first, int64_t last, int64_t offset, KeyFrameSink &out);
    // Appends `depth` and the name, then the block's trace. -1 when unlinked.
    int32_t trace(int32_t frame, int32_t depth, std::vector<std::string> &lines);
    // The linked block's name when linked, otherwise the name as written ("" when absent).
    const SjisString &nameOf() const;
    // Sets `rect` (inclusive corners) and hasRect.
    void setRect(int32_t left, int32_t top, int32_t right, int32_t bottom);

    // The loop search of Block::findLoop, continued through this input.
    std::optional<SjisString> findLoop(std::set<SjisString> &visited) const;

    Scenario *scenario = nullptr;  // owner, set at linking (gives the screen size)
    Block *block = nullptr;        // the named block, set at linking
    bool hasRect = false;          // the INPUT line carried a rectangle (or linking set one)
    Rect rect;                     // part of the screen the input is placed in
    int32_t cutMode = 0;           // MaxCut for STILL's MAX_CUT
    int32_t offset = 0;            // MIX's OFFSET, in frames
    std::optional<SjisString> name;  // as written
    int32_t inputMode = InputShown;
    bool linkVolumeAlpha = false;  // ALINK_VOLUME_ALPHA (SERIES, MAIN)
    int32_t startOffset = -1;      // frame of the parent at which this input begins; set when
                                   // the parent computes its length

    // For InputBlank: the blank picture, made on first use and kept; guarded by `lock`.
    ImagePtr blankImage;
    mutable std::mutex lock;

private:
    friend class Block;
    std::optional<SjisString> findLoop(std::set<SjisString> &visited,
                                       std::set<const Block *> &finished) const;
};

} // namespace vorn
