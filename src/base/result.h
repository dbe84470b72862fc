// The int32 result codes that cross subsystem boundaries.
#pragma once

#include <cstdint>

namespace vorn {

// Every operation that reports a code returns one of these; 0 is success.
enum Result : int32_t {
    Ok = 0,
    Failed = -1,
    OutOfMemory = -2,
    NoDirectory = -3,   // a needed directory is missing or a file could not be created
    CannotOpen = -4,    // a file cannot be opened
    NullArgument = -5,  // a null argument, or a division by zero in an expression
};

} // namespace vorn
