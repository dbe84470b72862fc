// LineWriter: the scenario file being saved, written line by line (CR LF) into a temporary file
// that replaces the target only when everything was written. Also the small helpers the
// blocks use to print their lines.
#pragma once

#include "base/atomicfile.h"
#include "base/linesink.h"

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

namespace vorn {

class LineWriter final : public LineSink {
public:
    LineWriter() = default;
    LineWriter(const LineWriter &) = delete;
    LineWriter &operator=(const LineWriter &) = delete;
    // Discards the temporary file when close() did not finish it: the target is untouched.
    ~LineWriter() override;

    // Creates a new temporary file in the target's directory (AtomicFile: the target must be a
    // regular file, a link to one, or a missing name). 0, or -3 when the target may not be
    // replaced or nothing can be created (nothing is left behind).
    int32_t open(const std::filesystem::path &target);
    // Writes the bytes and CR LF. 0, or -1 when not open or the write failed; a failure is
    // remembered and makes close() fail.
    int32_t line(std::string_view bytes) override;
    // Flushes and closes the temporary file and renames it over the target. 0, or -1 when a
    // line or the flush failed or the rename was refused: the temporary file is removed and
    // the target stays as it was.
    int32_t close();
    // Removes the temporary file without touching the target.
    void discard();

    bool failed() const { return m_failed || m_file.failed(); }
    // Why open() or close() failed, when the file system said so.
    const SaveFailure &failure() const { return m_file.failure(); }
    bool isOpen() const { return m_file.isOpen(); }

private:
    std::mutex m_lock;  // lines may come from any thread; each is written whole
    AtomicFile m_file;
    bool m_failed = false;
};

// Writes lines to a sink and remembers the first failure, so a block prints every line and
// reports at the end.
class LinePrinter {
public:
    explicit LinePrinter(LineSink &out) : m_out(out) {}
    void operator()(std::string_view bytes)
    {
        const int32_t r = m_out.line(bytes);
        if (r < 0 && m_result == 0)
            m_result = r;
    }
    // Adds the result of a nested writer (a shape, a block).
    void merge(int32_t result)
    {
        if (result < 0 && m_result == 0)
            m_result = result;
    }
    int32_t result() const { return m_result; }

private:
    LineSink &m_out;
    int32_t m_result = 0;
};

// Pieces of the canonical layout: the bytes in double quotes, decimal numbers. Quoted bytes
// are written as they are; readsBack() tells whether the line holding them reads back.
std::string inQuotes(std::string_view bytes);
std::string num(int64_t value);

// Whether the reader reads `line` back as written. The reader blanks every '#' to the end of
// its line and ends a quoted value at a TAB, '"', '}' or line break, and refuses an empty one;
// it has no escapes. So: no CR or LF; a '#' only where a comment starts the line (after blanks
// and TABs); and at most one quoted value, a whole TAB-separated field, not empty, holding no
// TAB, '}' or '#' (a value with a '"' of its own gives a third quote). No line of the layout
// has two quoted values.
bool readsBack(std::string_view line);

// Header text (a comment): every control byte, line breaks included, becomes '?', so that the
// header stays one comment per line. Shift-JIS trail bytes are never control bytes.
std::string commentText(std::string_view bytes);

} // namespace vorn
