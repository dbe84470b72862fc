// LineWriter: lines into a temporary file beside the target, renamed over it at the end.
#include "scenario/model/linewriter.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vorn {
namespace {

std::atomic<unsigned> temporaryCounter{0};

} // namespace

LineWriter::~LineWriter()
{
    discard();
}

int32_t LineWriter::open(const std::filesystem::path &target)
{
    discard();
    m_failed = false;
    m_target = target;
    std::error_code error;
    // Saving through a symbolic link replaces the file it names, not the link.
    if (std::filesystem::is_symlink(target, error)) {
        auto resolved = std::filesystem::weakly_canonical(target, error);
        if (!error)
            m_target = resolved;
    }
    if (m_target.filename().empty())
        return -3;
    std::filesystem::path directory = m_target.parent_path();
    if (directory.empty())
        directory = ".";

    // A replaced file keeps its permissions; a new one gets 0666 less the umask, as any
    // newly created file would.
    struct stat targetStat {};
    const bool targetExists = ::stat(m_target.c_str(), &targetStat) == 0;

    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string temporaryName = "." + m_target.filename().string() + "." +
                                          std::to_string(::getpid()) + "." +
                                          std::to_string(temporaryCounter++) + ".tmp";
        const std::filesystem::path temporary = directory / temporaryName;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return -3;
        }
        if (targetExists)
            (void)::fchmod(fd, targetStat.st_mode & 07777);
        m_file = ::fdopen(fd, "wb");
        if (!m_file) {
            ::close(fd);
            ::unlink(temporary.c_str());
            return -3;
        }
        m_temporary = temporary;
        return 0;
    }
    return -3;
}

int32_t LineWriter::line(std::string_view bytes)
{
    std::lock_guard guard(m_lock);
    if (!m_file) {
        m_failed = true;
        return -1;
    }
    if (std::fwrite(bytes.data(), 1, bytes.size(), m_file) != bytes.size() ||
        std::fwrite("\r\n", 1, 2, m_file) != 2) {
        m_failed = true;
        return -1;
    }
    return 0;
}

int32_t LineWriter::close()
{
    std::lock_guard guard(m_lock);
    if (!m_file)
        return -1;
    bool ok = !m_failed;
    ok = std::fflush(m_file) == 0 && ok;
    ok = ::fsync(::fileno(m_file)) == 0 && ok;
    ok = std::fclose(m_file) == 0 && ok;
    m_file = nullptr;
    if (ok)
        ok = std::rename(m_temporary.c_str(), m_target.c_str()) == 0;
    if (!ok) {
        ::unlink(m_temporary.c_str());
        m_failed = true;
    }
    m_temporary.clear();
    return ok ? 0 : -1;
}

void LineWriter::discard()
{
    std::lock_guard guard(m_lock);
    if (m_file) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

std::string inQuotes(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size() + 2);
    text += '"';
    text.append(bytes);
    text += '"';
    return text;
}

std::string num(int64_t value)
{
    return std::to_string(value);
}

} // namespace vorn
