// Atomic saves: a private temporary file beside the target, fsync, rename.
#include "base/atomicfile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vorn {
namespace {

// Linux gives up on a path after 40 links; so do we.
constexpr int MaxLinks = 40;
constexpr size_t BufferBytes = 64 * 1024;
// A temporary file this old whose lock nobody holds was left by a save that was killed.
constexpr time_t StaleSeconds = 10 * 60;

const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
const std::string_view TemporaryPrefix = ".vorn-";
constexpr size_t TemporaryLetters = 6;

std::string temporaryName()
{
    thread_local std::mt19937 random{std::random_device{}() ^ unsigned(::getpid())};
    std::uniform_int_distribution<size_t> pick(0, sizeof Letters - 2);
    std::string name(TemporaryPrefix);
    for (size_t i = 0; i < TemporaryLetters; ++i)
        name += Letters[pick(random)];
    return name;
}

bool isTemporaryName(std::string_view name)
{
    if (name.size() != TemporaryPrefix.size() + TemporaryLetters ||
        name.substr(0, TemporaryPrefix.size()) != TemporaryPrefix)
        return false;
    return name.substr(TemporaryPrefix.size()).find_first_not_of(Letters) == std::string_view::npos;
}

std::string systemReason(int error)
{
    char text[256] = {};
    // The GNU strerror_r returns the text, which need not be in `text`.
    return ::strerror_r(error, text, sizeof text);
}

// Closes a descriptor on every path.
struct Descriptor {
    int fd = -1;
    explicit Descriptor(int f) : fd(f) {}
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The umask without changing it (umask() would, for every thread): Linux shows it in
// /proc/self/status. 022 where it cannot be read.
mode_t currentUmask()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("Umask:", 0) == 0)
            return mode_t(std::strtoul(line.c_str() + 6, nullptr, 8)) & 0777;
    return 022;
}

// Removes the temporary files of our saves into `folder` that were killed: ours, old, and
// not locked by a save that is still running. The age also spares a save that has just
// created its file and not yet locked it.
void removeStaleTemporaries(const std::filesystem::path &folder)
{
    DIR *dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    const int dirFd = ::dirfd(dir);
    const time_t now = ::time(nullptr);
    while (const dirent *entry = ::readdir(dir)) {
        if (!isTemporaryName(entry->d_name))
            continue;
        int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            fd = ::openat(dirFd, entry->d_name, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        const Descriptor file(fd);
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid() ||
            now - info.st_mtim.tv_sec < StaleSeconds || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
            continue;
        // Still the file that was checked, not one renamed into its place meanwhile.
        struct stat named {};
        if (::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == info.st_dev && named.st_ino == info.st_ino)
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

// Extended attributes that must reach the new file: the user's own and the POSIX ACL (without
// its mask the group would gain what the ACL withheld). Others (security.*, trusted.*) are
// copied where the process may.
bool mustKeep(std::string_view name)
{
    return name.rfind("user.", 0) == 0 || name.rfind("system.posix_acl_", 0) == 0;
}

constexpr std::string_view AccessAcl = "system.posix_acl_access";

} // namespace

std::string SaveFailure::text() const
{
    return path.string() + ": " + reason;
}

std::optional<FileIdentity> fileIdentity(const std::filesystem::path &name)
{
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0)
        return std::nullopt;
    return FileIdentity{info.st_dev, info.st_ino, info.st_size, info.st_mtim};
}

std::optional<std::filesystem::path> replaceTarget(const std::filesystem::path &name,
                                                   SaveFailure *why)
{
    const auto refuse = [&](std::string reason) -> std::optional<std::filesystem::path> {
        if (why)
            *why = SaveFailure{name, std::move(reason)};
        return std::nullopt;
    };
    // What the name leads to, through every link, decides: only a regular file is ever
    // replaced. A device, FIFO or socket would otherwise turn into a file (as root even
    // /dev/null), a directory cannot be renamed over. stat() also sees through links such as
    // /proc/self/fd/1, whose text is no path.
    struct stat info {};
    const bool exists = ::stat(name.c_str(), &info) == 0;
    if (!exists && errno != ENOENT)
        return refuse(systemReason(errno));
    if (exists) {
        if (!S_ISREG(info.st_mode))
            return refuse(S_ISDIR(info.st_mode) ? "フォルダには保存できません。"
                                                : "通常のファイルではないため置き換えません。");
        // Renaming needs only the folder's permission; a file the user may not write (chmod
        // 444) is refused as writing into it would be. Effective ids, as open() would use.
        if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0)
            return refuse(systemReason(errno));
    }
    // The path of the file itself, so that the link stays and the temporary file is made in
    // the file's own folder (a rename cannot cross file systems).
    std::filesystem::path path = name;
    for (int links = 0;; ++links) {
        struct stat entry {};
        if (::lstat(path.c_str(), &entry) != 0) {
            // A missing name, or the missing end of a dangling link, becomes a new file.
            const int error = errno;
            const auto file = path.filename();
            if (exists || error != ENOENT)
                return refuse(systemReason(error));
            if (file.empty() || file == "." || file == "..")
                return refuse("ファイル名がありません。");
            return path;
        }
        if (!S_ISLNK(entry.st_mode)) {
            if (exists && S_ISREG(entry.st_mode))
                return path;
            return refuse("通常のファイルではないため置き換えません。");
        }
        if (links >= MaxLinks)
            return refuse(systemReason(ELOOP));
        std::error_code error;
        const auto target = std::filesystem::read_symlink(path, error);
        if (error || target.empty())
            return refuse(error ? error.message() : systemReason(ENOENT));
        path = target.is_absolute() ? target : path.parent_path() / target;
    }
}

AtomicFile::~AtomicFile()
{
    discard();
}

bool AtomicFile::fail(const std::filesystem::path &path, std::string reason)
{
    if (m_failure.empty())
        m_failure = SaveFailure{path, std::move(reason)};
    m_failed = true;
    return false;
}

int32_t AtomicFile::open(const std::filesystem::path &name)
{
    discard();
    m_failed = false;
    m_failure = {};
    m_inPlace = false;
    const auto target = replaceTarget(name, &m_failure);
    if (!target) {
        m_failed = true;
        return -3;
    }
    m_target = *target;
    m_folder = m_target.parent_path();
    if (m_folder.empty())
        m_folder = ".";
    removeStaleTemporaries(m_folder);

    struct stat targetInfo {};
    const bool replacing = ::stat(m_target.c_str(), &targetInfo) == 0;
    // Without a name nobody can open it, so a new target may take the umask's mode (and the
    // folder's default ACL) from the start; a replacement starts private.
    int fd = ::open(m_folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, replacing ? 0600 : 0666);
    if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        fail(m_folder, systemReason(errno));
        return -3;
    }
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        const std::filesystem::path temporary = m_folder / temporaryName();
        fd = ::open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            m_temporary = temporary;
            if (!replacing)
                (void)::fchmod(fd, 0666 & ~currentUmask());
        } else if (errno != EEXIST) {
            fail(m_folder, systemReason(errno));
            return -3;
        }
    }
    if (fd < 0) {
        fail(m_folder, systemReason(EEXIST));
        return -3;
    }
    m_fd = fd;
    // Marks the temporary as in use for removeStaleTemporaries of other saves.
    (void)::flock(fd, LOCK_EX | LOCK_NB);
    if (replacing && !prepareReplacement(targetInfo)) {
        discard();
        return -3;
    }
    return 0;
}

bool AtomicFile::prepareReplacement(const struct stat &target)
{
    if (target.st_nlink > 1) {
        // The other names must see the new text: the target keeps its inode, and with it its
        // owner, mode and attributes.
        m_inPlace = true;
        return true;
    }
    struct stat mine {};
    if (::fstat(m_fd, &mine) != 0)
        return fail(m_target, systemReason(errno));
    // The owner first: changing it may clear the set-id bits that fchmod then restores. Only
    // root may give a file away; a group member keeps at least the group, so that neither the
    // owner nor the group is locked out. Losing both is refused.
    if ((mine.st_uid != target.st_uid || mine.st_gid != target.st_gid) &&
        ::fchown(m_fd, target.st_uid, target.st_gid) != 0 && mine.st_gid != target.st_gid &&
        ::fchown(m_fd, uid_t(-1), target.st_gid) != 0 && mine.st_uid != target.st_uid)
        return fail(m_target, "所有者（" + std::to_string(target.st_uid) + "）もグループ（" +
                                  std::to_string(target.st_gid) +
                                  "）も保てないため置き換えません。");
    if (::fchmod(m_fd, target.st_mode & 07777) != 0)
        return fail(m_target, systemReason(errno));

    // Extended attributes after the mode: the ACL sets the group bits (its mask) itself.
    bool hadAcl = false;
    ssize_t size = ::listxattr(m_target.c_str(), nullptr, 0);
    if (size < 0 && errno != ENOTSUP)
        return fail(m_target, "拡張属性を読めません: " + systemReason(errno));
    std::vector<char> names(size_t(std::max<ssize_t>(size, 0)));
    if (size > 0)
        size = ::listxattr(m_target.c_str(), names.data(), names.size());
    if (size < 0)
        return fail(m_target, "拡張属性を読めません: " + systemReason(errno));
    for (size_t at = 0; at < size_t(size);) {
        const std::string attribute(names.data() + at);
        at += attribute.size() + 1;
        hadAcl = hadAcl || attribute == AccessAcl;
        ssize_t length = ::getxattr(m_target.c_str(), attribute.c_str(), nullptr, 0);
        std::vector<char> value(size_t(std::max<ssize_t>(length, 1)));
        if (length > 0)
            length = ::getxattr(m_target.c_str(), attribute.c_str(), value.data(), value.size());
        const bool copied =
            length >= 0 && ::fsetxattr(m_fd, attribute.c_str(), value.data(), size_t(length), 0) == 0;
        if (!copied && mustKeep(attribute))
            return fail(m_target, "拡張属性 " + attribute + " を新しいファイルに写せません: " +
                                      systemReason(errno));
    }
    // A default ACL of the folder gave the new file an ACL the old one did not have.
    if (!hadAcl)
        (void)::fremovexattr(m_fd, AccessAcl.data());
    return true;
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
            return fail(m_target, systemReason(n < 0 ? errno : ENOSPC));
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
    if (m_buffer.size() >= BufferBytes && !flushBuffer())
        return -1;
    return 0;
}

bool AtomicFile::linkTemporary()
{
    if (!m_temporary.empty())
        return true;
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path temporary = m_folder / temporaryName();
        int linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, temporary.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT)  // no /proc: this needs CAP_DAC_READ_SEARCH
            linked = ::linkat(m_fd, "", AT_FDCWD, temporary.c_str(), AT_EMPTY_PATH);
        if (linked == 0) {
            m_temporary = temporary;
            return true;
        }
        if (errno != EEXIST)
            return fail(m_folder, systemReason(errno));
    }
    return fail(m_folder, systemReason(EEXIST));
}

// The whole new text is on disk in the temporary file; space for it is reserved in the target
// before its first byte changes, so a full disk stops the save while the old text is whole.
bool AtomicFile::replaceContents()
{
    const off_t size = ::lseek(m_fd, 0, SEEK_END);
    if (size < 0)
        return fail(m_target, systemReason(errno));
    const Descriptor target(::open(m_target.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (target.fd < 0 || ::fstat(target.fd, &info) != 0)
        return fail(m_target, systemReason(errno));
    if (size > info.st_size) {
        if (const int error = ::posix_fallocate(target.fd, 0, size); error != 0) {
            (void)::ftruncate(target.fd, info.st_size);
            return fail(m_target, "ハードリンクされたファイルの内容を置き換える領域を確保できません: " +
                                      systemReason(error));
        }
    }
    std::vector<char> chunk(BufferBytes);
    for (off_t at = 0; at < size;) {
        const ssize_t got = ::pread(m_fd, chunk.data(), chunk.size(), at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return fail(m_target, systemReason(got < 0 ? errno : EIO));
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = ::pwrite(target.fd, chunk.data() + done, size_t(got - done), at + done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return fail(m_target, "ハードリンクされたファイルの書き換え中に失敗しました: " +
                                          systemReason(put < 0 ? errno : ENOSPC));
            done += put;
        }
        at += got;
    }
    if (::ftruncate(target.fd, size) != 0 || ::fsync(target.fd) != 0)
        return fail(m_target, systemReason(errno));
    return true;
}

int32_t AtomicFile::commit()
{
    if (m_fd < 0)
        return -1;
    bool ok = !m_failed && flushBuffer();
    if (ok && ::fsync(m_fd) != 0)
        ok = fail(m_target, systemReason(errno));
    if (ok && m_inPlace) {
        ok = replaceContents();
    } else if (ok) {
        ok = linkTemporary();
        if (ok && std::rename(m_temporary.c_str(), m_target.c_str()) != 0)
            ok = fail(m_target, systemReason(errno));
        if (ok)
            m_temporary.clear();  // it is the target now
    }
    if (!ok) {
        discard();
        m_failed = true;
        return -1;
    }
    discard();
    // The rename itself reaches the disk with the folder; a failure here cannot be undone.
    if (const int dir = ::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        (void)::fsync(dir);
        ::close(dir);
    }
    return 0;
}

std::filesystem::path AtomicFile::temporaryPath() const
{
    if (!m_temporary.empty() || m_fd < 0)
        return m_temporary;
    return "/proc/self/fd/" + std::to_string(m_fd);
}

void AtomicFile::discard()
{
    // Unlinked before the descriptor (and its lock) goes, so no other save takes it meanwhile.
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    m_buffer.clear();
}

int32_t replaceFile(const std::filesystem::path &name, std::string_view bytes, SaveFailure *why)
{
    AtomicFile file;
    int32_t result = file.open(name);
    if (result == 0)
        result = file.write(bytes) == 0 ? file.commit() : -1;
    if (result != 0 && why)
        *why = file.failure();
    return result;
}

namespace {

std::filesystem::path numberedBackup(const std::filesystem::path &file, int number)
{
    std::filesystem::path copy = file;
    copy += number == 1 ? ".bak" : ".bak" + std::to_string(number);
    return copy;
}

constexpr int MaxBackups = 1000;

} // namespace

std::filesystem::path backupName(const std::filesystem::path &file)
{
    for (int number = 1; number < MaxBackups; ++number) {
        const auto copy = numberedBackup(file, number);
        struct stat info {};
        if (::lstat(copy.c_str(), &info) != 0 && errno == ENOENT)
            return copy;
    }
    return numberedBackup(file, MaxBackups);
}

std::optional<std::filesystem::path> keepCopy(const std::filesystem::path &file, SaveFailure *why)
{
    const auto refuse = [&](const std::filesystem::path &path, int error) {
        if (why)
            *why = SaveFailure{path, systemReason(error)};
        return std::nullopt;
    };
    const Descriptor source(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (source.fd < 0 || ::fstat(source.fd, &info) != 0)
        return refuse(file, errno);
    for (int number = 1; number < MaxBackups; ++number) {
        const std::filesystem::path copy = numberedBackup(file, number);
        // 0600 until it is whole, as the original may be private.
        const Descriptor out(::open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (out.fd < 0) {
            if (errno == EEXIST)
                continue;
            return refuse(copy, errno);
        }
        std::vector<char> chunk(BufferBytes);
        int error = 0;
        for (;;) {
            const ssize_t got = ::read(source.fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                const int readError = errno;
                ::unlink(copy.c_str());
                return refuse(file, readError);
            }
            if (got == 0)
                break;
            for (ssize_t done = 0; !error && done < got;) {
                const ssize_t put = ::write(out.fd, chunk.data() + done, size_t(got - done));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                    error = put < 0 ? errno : ENOSPC;
                else
                    done += put;
            }
            if (error)
                break;
        }
        if (!error && (::fchmod(out.fd, info.st_mode & 0777) != 0 || ::fsync(out.fd) != 0))
            error = errno;
        if (error) {
            ::unlink(copy.c_str());
            return refuse(copy, error);
        }
        return copy;
    }
    return refuse(file, EEXIST);
}

} // namespace vorn
