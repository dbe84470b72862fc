// The block grammar's entry points: which parser reads each block keyword, and CHECKPOINT.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

namespace vorn {

class Block;
class Scenario;
class SourceText;

// A block parser reads from just after the keyword (the text positioned on the blank that
// follows it) and gives a new block, or nullptr once the failure has been reported through the
// scenario's prompter. `keyword` is the kind keyword as written: it selects the kind within a
// family (ZOOM, FADEIN, MAIN ...) and appears in that family's messages. The parser sets only
// the block's own fields; the statement loop gives it its directory and appends it.
using BlockParser = std::unique_ptr<Block> (*)(Scenario &, SourceText &, std::string_view keyword);

// nullptr when keyword is not a block keyword (IMAGE ... SHADE, incl. MAIN, FADEIN, EXPANDOUT ...).
// Exact, case-sensitive match.
BlockParser findBlockParser(std::string_view keyword);

// The CHECKPOINT statement, from just after its keyword; appends its records to
// scenario.checkpoints in reading order. 0 or -1 (reported); records read before a failure stay.
int32_t readCheckpointBlock(Scenario &scenario, SourceText &text);

} // namespace vorn
