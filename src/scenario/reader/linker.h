// Linking and validation: turns a scenario as read into one that can be rendered and written.
#pragma once

#include <cstdint>

namespace vorn {

class Scenario;

// Checks the global settings, rejects duplicate and missing block names and loops, resolves
// every input to its block (counting references), fills the rectangles and centres a block
// leaves to the screen, computes totalFrames, completes the checkpoints and validates every
// block. 0 when the scenario is ready; -1 after the first problem was shown through the
// scenario's prompter. May run again on the same scenario: reference counts start from 0.
int32_t link(Scenario &scenario);

} // namespace vorn
