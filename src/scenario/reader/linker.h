// Linking and validation: turns a scenario as read into one that can be rendered and written.
#pragma once

#include "scenario/model/block.h"

#include <cstdint>

namespace vorn {

class Scenario;

// Most blocks in one chain of inputs and BGIMAGE references (a block, its input or background,
// that one's ...). Lengths, key frames and pictures are computed recursively along such chains;
// deeper scenarios are refused with a message instead of exhausting the stack.
inline constexpr int32_t MaxInputNesting = MaxBlockNesting;

// Checks the global settings, rejects duplicate and missing block names, loops of inputs (also
// among blocks that MAIN does not reach), loops of BGIMAGE references alone and chains deeper
// than MaxInputNesting, resolves
// every input to its block (counting references), fills the rectangles and centres a block
// leaves to the screen, computes totalFrames, completes the checkpoints and validates every
// block. 0 when the scenario is ready; -1 after the first problem was shown through the
// scenario's prompter. May run again on the same scenario: reference counts start from 0.
int32_t link(Scenario &scenario);

} // namespace vorn
