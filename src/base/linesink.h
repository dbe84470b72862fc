// LineSink: where a scenario's lines are written. The file writer implements it; shapes and
// blocks print through it without knowing about files.
#pragma once

#include <cstdint>
#include <string_view>

namespace vorn {

class LineSink {
public:
    virtual ~LineSink() = default;
    // Writes `bytes` (Shift-JIS, no line end) followed by CR LF. 0, or negative on failure.
    virtual int32_t line(std::string_view bytes) = 0;
};

} // namespace vorn
