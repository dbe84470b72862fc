// Saving a file so that a failed save leaves the old one as it was: the bytes go to a new file
// beside the target, which is flushed to disk and then renamed over the target, keeping what
// the old file carried (permissions, group, extended attributes, its other hard links).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vorn {

// Why a save was refused: the path concerned and the system's reason (or our own, in
// Japanese), for the line shown below the failure message.
struct SaveFailure {
    std::filesystem::path path;
    std::string reason;

    bool empty() const { return reason.empty(); }
    // "PATH: REASON".
    std::string text() const;
};

// What tells a file apart from the one it was: another program's save gives a new inode or
// another size or time.
struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};

    friend bool operator==(const FileIdentity &a, const FileIdentity &b)
    {
        return a.device == b.device && a.inode == b.inode && a.size == b.size &&
               a.modified.tv_sec == b.modified.tv_sec && a.modified.tv_nsec == b.modified.tv_nsec;
    }
};

// The identity of the file `name` leads to (links followed); none when it cannot be seen.
std::optional<FileIdentity> fileIdentity(const std::filesystem::path &name);

// The file a save to `name` replaces. A symbolic link is followed to the file it names (a
// dangling link to the name it points at, which the save creates); the link stays. None when
// that is not a regular file or a missing name (a directory, FIFO, device or socket is never
// replaced), when the links go round in circles, or when the existing file is not writable
// with the process's effective ids (as access(W_OK) decides: root may write anything); `why`
// then says which.
std::optional<std::filesystem::path> replaceTarget(const std::filesystem::path &name,
                                                   SaveFailure *why = nullptr);

// One save in progress. Not for use from several threads at once.
//
// The new text is written to a file nobody else can open: one without a name (O_TMPFILE),
// linked in as ".vorn-XXXXXX" only to be renamed at commit, or where the file system cannot
// do that a ".vorn-XXXXXX" created 0600. It is locked while the save lasts, so that the next
// save into the folder removes only our own temporaries that a killed save left behind.
// An existing target's mode, owner (or at least its group: a save that could keep neither is
// refused) and extended attributes (POSIX ACL included) carry over. A target with several
// hard links keeps its inode: once the whole text is safely on disk beside it, its contents
// are replaced in place (space for them reserved first), so every name sees the new text.
class AtomicFile {
public:
    AtomicFile() = default;
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;
    // Discards the temporary file when commit() did not finish it: the target is untouched.
    ~AtomicFile();

    // Prepares the temporary file in the target's folder; a new target gets 0666 less the
    // umask. 0, or -3 when the target may not be replaced (see replaceTarget), its owner and
    // group cannot both be lost, its attributes cannot be copied, or nothing can be created
    // beside it: failure() says why.
    int32_t open(const std::filesystem::path &name);
    // 0, or -1 when not open or the write failed; a failure is remembered and makes commit()
    // fail.
    int32_t write(std::string_view bytes);
    // Flushes the bytes to disk and renames the temporary file over the target (or rewrites a
    // hard-linked target in place). 0, or -1 when a write, the flush or the replacement
    // failed: the temporary file is removed, the target stays as it was, failure() says why.
    int32_t commit();
    // Removes the temporary file without touching the target.
    void discard();

    bool isOpen() const { return m_fd >= 0; }
    bool failed() const { return m_failed; }
    const SaveFailure &failure() const { return m_failure; }
    // For writers that must seek (a muxer patching sizes in its header): they write and seek
    // through the descriptor itself and never call write(); commit() and discard() still apply.
    // -1 when not open.
    int descriptor() const { return m_fd; }
    // A name that reads the temporary file back: its own, or its descriptor's in /proc while
    // it has none yet.
    std::filesystem::path temporaryPath() const;

private:
    bool flushBuffer();
    bool fail(const std::filesystem::path &path, std::string reason);
    bool prepareReplacement(const struct stat &target);
    bool linkTemporary();
    bool replaceContents();

    int m_fd = -1;
    std::filesystem::path m_target;
    std::filesystem::path m_folder;
    std::filesystem::path m_temporary;  // empty while the file has no name
    std::string m_buffer;  // small writes are gathered before they reach the file
    bool m_inPlace = false;  // the target has other hard links
    bool m_failed = false;
    SaveFailure m_failure;
};

// The whole file in one call: open, write, commit. 0, -3 or -1 as above; `why` says why.
int32_t replaceFile(const std::filesystem::path &name, std::string_view bytes,
                    SaveFailure *why = nullptr);

// The name keepCopy(file) would give its copy now: FILE.bak, or FILE.bak2, FILE.bak3 … when
// that name is taken.
std::filesystem::path backupName(const std::filesystem::path &file);

// Copies `file` beside itself under backupName (an existing name is never replaced, not even
// one made meanwhile), with the file's mode. The copy's name, or none with `why` saying why.
std::optional<std::filesystem::path> keepCopy(const std::filesystem::path &file,
                                              SaveFailure *why = nullptr);

} // namespace vorn
