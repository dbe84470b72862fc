// The CHECKPOINT block: CT (milliseconds) and CF (video frame) entries with an optional colour.
#include "scenario/reader/blockgrammar.h"

#include "scenario/model/scenario.h"
#include "scenario/reader/grammar_common.h"
#include "scenario/reader/reader.h"
#include "scenario/reader/sourcetext.h"
#include "timeline/checkpoint.h"

namespace vorn {

int32_t readCheckpointBlock(Scenario &scenario, SourceText &text)
{
    using namespace grammar;
    if (readOpeningBrace(scenario, text) < 0)
        return -1;
    for (;;) {
        if (text.atEnd())
            return 0;
        text.skip(Blanks);
        if (text.peek() == '}') {
            text.advance();
            return 0;
        }
        const std::optional<SjisString> keyword =
            readToken(scenario, text, KeywordBufferSize, BlockKeywordDelimiters);
        if (!keyword)
            return -1;
        const bool isTime = *keyword == "CT";
        if (!isTime && *keyword != "CF")
            return failWithWord(scenario, text, "CHECKPOINT ブロック内では、%s の記述はできません。",
                                *keyword);
        int32_t value = 0;
        if (readInteger(scenario, text, value, "チェックポイント", CheckLowest, 0, 0) < 0)
            return -1;
        Checkpoint checkpoint;
        (isTime ? checkpoint.time : checkpoint.frame) = value;
        // The colour is optional and recognised by a leading digit only: an expression there
        // would be read as the next keyword and rejected.
        text.skip(Blanks);
        const char next = text.peek();
        if (next >= '0' && next <= '9' && readColour3(scenario, text, checkpoint.colour, 255) < 0)
            return -1;
        scenario.checkpoints.push_back(checkpoint);
    }
}

} // namespace vorn
