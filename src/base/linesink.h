// LineSink: where a scenario's lines are written. The file writer implements it; shapes and
// blocks print through it without knowing about files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

class LineSink {
public:
    virtual ~LineSink() = default;
    // Writes `bytes` (Shift-JIS, no line end) followed by CR LF. 0, or negative on failure.
    virtual int32_t line(std::string_view bytes) = 0;
    // The name to write for a file that the scenario names as `file`, relative to `directory`
    // (the folder of the scenario file that named it; both Shift-JIS). A sink writing into
    // another folder gives a name that is valid from there; by default the name as it is.
    virtual std::string fileName(std::string_view file,
                                 const std::optional<std::string> &directory) const
    {
        (void)directory;
        return std::string(file);
    }
};

} // namespace vorn
