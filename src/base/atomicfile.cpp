// Atomic saves: a temporary file beside the target, fsync, rename.
#include "base/atomicfile.h"

#include <cerrno>
#include <cstdio>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn {
namespace {

// Linux gives up on a path after 40 links; so do we.
constexpr int MaxLinks = 40;
constexpr size_t BufferBytes = 64 * 1024;

std::string temporaryName()
{
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 random{std::random_device{}() ^ unsigned(::getpid())};
    std::uniform_int_distribution<size_t> pick(0, sizeof Letters - 2);
    std::string name = ".vorn-";
    for (int i = 0; i < 6; ++i)
        name += Letters[pick(random)];
    return name;
}

} // namespace

std::optional<std::filesystem::path> replaceTarget(const std::filesystem::path &name)
{
    // What the name leads to, through every link, decides: only a regular file is ever
    // replaced. A device, FIFO or socket would otherwise turn into a file (as root even
    // /dev/null), a directory cannot be renamed over. stat() also sees through links such as
    // /proc/self/fd/1, whose text is no path.
    struct stat info {};
    const bool exists = ::stat(name.c_str(), &info) == 0;
    if (!exists && errno != ENOENT)
        return std::nullopt;
    if (exists) {
        if (!S_ISREG(info.st_mode))
            return std::nullopt;
        // Renaming needs only the folder's permission; a file the user may not write (chmod
        // 444) is refused as writing into it would be. Effective ids, as open() would use.
        if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0)
            return std::nullopt;
    }
    // The path of the file itself, so that the link stays and the temporary file is made in
    // the file's own folder (a rename cannot cross file systems).
    std::filesystem::path path = name;
    for (int links = 0;; ++links) {
        struct stat entry {};
        if (::lstat(path.c_str(), &entry) != 0) {
            // A missing name, or the missing end of a dangling link, becomes a new file.
            const auto file = path.filename();
            if (exists || errno != ENOENT || file.empty() || file == "." || file == "..")
                return std::nullopt;
            return path;
        }
        if (!S_ISLNK(entry.st_mode))
            return exists && S_ISREG(entry.st_mode) ? std::optional(path) : std::nullopt;
        if (links >= MaxLinks)
            return std::nullopt;
        std::error_code error;
        const auto target = std::filesystem::read_symlink(path, error);
        if (error || target.empty())
            return std::nullopt;
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
}

AtomicFile::~AtomicFile()
{
    discard();
}

int32_t AtomicFile::open(const std::filesystem::path &name)
{
    discard();
    m_failed = false;
    const auto target = replaceTarget(name);
    if (!target)
        return -3;
    m_target = *target;
    std::filesystem::path folder = m_target.parent_path();
    if (folder.empty())
        folder = ".";

    struct stat targetInfo {};
    const bool replacing = ::stat(m_target.c_str(), &targetInfo) == 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path temporary = folder / temporaryName();
        // 0666: a new file gets the umask's permissions, as any newly created file would.
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return -3;
        }
        if (replacing) {
            // The owner first: changing it may clear the set-id bits that fchmod then restores.
            // Best effort: only root may give a file away; the mode below still applies.
            if (::fchown(fd, targetInfo.st_uid, targetInfo.st_gid) != 0)
                errno = 0;
            (void)::fchmod(fd, targetInfo.st_mode & 07777);
        }
        m_fd = fd;
        m_temporary = temporary;
        return 0;
    }
    return -3;
}

bool AtomicFile::flushBuffer()
{
    size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            m_buffer.clear();
            return false;
        }
        done += size_t(n);
    }
    m_buffer.clear();
    return true;
}

int32_t AtomicFile::write(std::string_view bytes)
{
    if (m_fd < 0 || m_failed) {
        m_failed = true;
        return -1;
    }
    m_buffer.append(bytes);
    if (m_buffer.size() >= BufferBytes && !flushBuffer()) {
        m_failed = true;
        return -1;
    }
    return 0;
}

int32_t AtomicFile::commit()
{
    if (m_fd < 0)
        return -1;
    bool ok = !m_failed && flushBuffer();
    ok = ::fsync(m_fd) == 0 && ok;
    ok = ::close(m_fd) == 0 && ok;
    m_fd = -1;
    if (ok)
        ok = std::rename(m_temporary.c_str(), m_target.c_str()) == 0;
    if (!ok) {
        ::unlink(m_temporary.c_str());
        m_failed = true;
        m_temporary.clear();
        return -1;
    }
    m_temporary.clear();
    // The rename itself reaches the disk with the folder; a failure here cannot be undone.
    std::filesystem::path folder = m_target.parent_path();
    if (folder.empty())
        folder = ".";
    if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return 0;
}

void AtomicFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    m_buffer.clear();
}

int32_t replaceFile(const std::filesystem::path &name, std::string_view bytes)
{
    AtomicFile file;
    if (const int32_t opened = file.open(name); opened != 0)
        return opened;
    if (file.write(bytes) != 0)
        return -1;
    return file.commit();
}

} // namespace vorn
