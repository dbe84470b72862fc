// Saving a file so that a failed save leaves the old one as it was: the bytes go to a new file
// beside the target, which is flushed to disk and then renamed over the target.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// The file a save to `name` replaces. A symbolic link is followed to the file it names (a
// dangling link to the name it points at, which the save creates); the link stays. None when
// that is not a regular file or a missing name (a directory, FIFO, device or socket is never
// replaced), when the links go round in circles, or when the existing file is not writable
// with the process's effective ids (as access(W_OK) decides: root may write anything).
std::optional<std::filesystem::path> replaceTarget(const std::filesystem::path &name);

// One save in progress. Not for use from several threads at once.
class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    // Discards the temporary file when commit() did not finish it: the target is untouched.
    ~AtomicFile();

    // Creates the temporary file ".vorn-XXXXXX" in the target's folder: short, so that a name
    // of the longest legal length still leaves room for it. An existing file's permissions
    // (and, where allowed, owner) carry over; a new one gets 0666 less the umask.
    // 0, or -3 when the target may not be replaced (see replaceTarget) or nothing can be
    // created beside it.
    int32_t open(const std::filesystem::path &name);
    // 0, or -1 when not open or the write failed; a failure is remembered and makes commit()
    // fail.
    int32_t write(std::string_view bytes);
    // Flushes the bytes to disk and renames the temporary file over the target. 0, or -1 when a
    // write, the flush or the rename failed: the temporary file is removed and the target stays
    // as it was.
    int32_t commit();
    // Removes the temporary file without touching the target.
    void discard();

    bool isOpen() const { return m_fd >= 0; }
    bool failed() const { return m_failed; }
    // For writers that must seek (a muxer patching sizes in its header): they write and seek
    // through the descriptor itself and never call write(); commit() and discard() still apply.
    // -1 when not open. The temporary file's path lets such a writer read its own output back.
    int descriptor() const { return m_fd; }
    const std::filesystem::path &temporaryPath() const { return m_temporary; }

private:
    bool flushBuffer();

    int m_fd = -1;
    std::filesystem::path m_target;
    std::filesystem::path m_temporary;
    std::string m_buffer;  // small writes are gathered before they reach the file
    bool m_failed = false;
};

// The whole file in one call: open, write, commit. 0, -3 or -1 as above.
int32_t replaceFile(const std::filesystem::path &name, std::string_view bytes);

} // namespace vorn
