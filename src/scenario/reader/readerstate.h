// Bounds on nested reading (INCLUDE files and CALL expansions) shared by the reader and macros.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vorn {

class Scenario;

// Deepest nesting of INCLUDE files and CALL expansions: a file that includes itself or a macro
// that calls itself is stopped with a message instead of recursing until the stack runs out.
inline constexpr int MaxReadNesting = 64;
// Most macro expansions, and most bytes of them, read by one top-level load: macros that call
// each other twice per level would otherwise expand exponentially within the nesting bound.
inline constexpr size_t MaxExpansions = 1000000;
inline constexpr size_t MaxExpansionBytes = size_t(256) << 20;
// Only macros whose arguments hold '$' or whose bodies nest references are substituted one
// pass per parameter (the rest take one pass over the body). Such a text may grow to this, or
// to twice its body, at any pass: arguments that each name the next parameter twice double the
// text with every pass, and are stopped here in milliseconds instead of filling the memory.
inline constexpr size_t MaxPassText = size_t(4) << 20;
// Bytes that those passes may scan and write per top-level load.
inline constexpr size_t MaxSubstitutionWork = size_t(1) << 30;
// Most INCLUDE reads, and most bytes read by them, per top-level load: files that each include
// the next one twice would otherwise be read 2^depth times within the nesting bound.
inline constexpr size_t MaxIncludes = 10000;
inline constexpr size_t MaxIncludedBytes = size_t(256) << 20;

// One level of nested reading on the calling thread, for as long as the object lives. The
// count is per thread: the reader runs on one thread per scenario.
class ReaderNesting {
public:
    explicit ReaderNesting(Scenario &scenario);
    ~ReaderNesting();
    ReaderNesting(const ReaderNesting &) = delete;
    ReaderNesting &operator=(const ReaderNesting &) = delete;

    // False when this level is deeper than MaxReadNesting (the caller reports and fails).
    bool entered() const { return m_entered; }
    // Counts an expansion against the budget of the current top-level load; false when over.
    bool chargeExpansion(size_t bytes);
    size_t expansionBytesLeft() const;
    size_t substitutionWorkLeft() const;
    void chargeSubstitutionWork(size_t bytes);

private:
    bool m_entered;
};

} // namespace vorn
