// Atomic saves: what may be replaced, through links, with short temporary names, and failed
// saves that leave the old file and no stray temporary.
#include "base/atomicfile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>

#include <fcntl.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace vorn {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
protected:
    // Names in the folder other than `keep`: a temporary file must never be left behind.
    std::vector<std::string> strays(const std::vector<std::string> &keep) const
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(m_dir.path())) {
            const auto name = entry.path().filename().string();
            if (std::find(keep.begin(), keep.end(), name) == keep.end())
                names.push_back(name);
        }
        return names;
    }
    fs::file_type typeOf(const std::string &name) const
    {
        return fs::symlink_status(m_dir.path() / name).type();
    }

    test::TempDir m_dir;
};

// Each row makes "out" (and what it leads to), saves "new" to it, and says what must follow.
TEST_F(AtomicFileTest, WhatMayBeReplaced)
{
    const fs::path dir = m_dir.path();
    const bool root = ::geteuid() == 0;
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const struct {
        const char *what;
        std::function<void()> make;
        int32_t result;
        const char *written;  // the name whose contents become "new"; null when refused
        std::vector<std::string> names;  // every name the folder holds afterwards
    } cases[] = {
        {"missing name", [] {}, 0, "out", {"out"}},
        {"regular file", [&] { m_dir.write("out", "old"); }, 0, "out", {"out"}},
        {"link to a file", [&] {
             m_dir.write("file", "old");
             fs::create_symlink("file", dir / "out");
         }, 0, "file", {"file", "out"}},
        {"dangling link creates its target", [&] { fs::create_symlink("made", dir / "out"); },
         0, "made", {"made", "out"}},
        {"FIFO", [&] { ::mkfifo((dir / "out").c_str(), 0644); }, -3, nullptr, {"out"}},
        {"link to a FIFO", [&] {
             ::mkfifo((dir / "fifo").c_str(), 0644);
             fs::create_symlink("fifo", dir / "out");
         }, -3, nullptr, {"fifo", "out"}},
        {"link to a pipe through /proc", [&] {
             fs::create_symlink("/proc/self/fd/" + std::to_string(pipeEnds[1]), dir / "out");
         }, -3, nullptr, {"out"}},
        {"directory", [&] { fs::create_directory(dir / "out"); }, -3, nullptr, {"out"}},
        {"links in a circle", [&] {
             fs::create_symlink("out", dir / "loop");
             fs::create_symlink("loop", dir / "out");
         }, -3, nullptr, {"loop", "out"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(dir);
        fs::create_directories(dir);
        c.make();
        const auto before = fs::symlink_status(dir / "out").type();
        EXPECT_EQ(replaceFile(dir / "out", "new"), c.result);
        // A link stays a link, a refused name stays what it was.
        EXPECT_EQ(typeOf("out"), before == fs::file_type::not_found ? fs::file_type::regular : before);
        if (c.written) {
            EXPECT_EQ(m_dir.read(c.written), "new");
        }
        EXPECT_TRUE(strays(c.names).empty()) << strays(c.names).front();
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);

    // A character device (made here, never a real one of /dev) stays one, also through a link.
    if (!root)
        GTEST_SKIP() << "making a device node needs root";
    fs::remove_all(dir);
    fs::create_directories(dir);
    ASSERT_EQ(::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)), 0);
    fs::create_symlink("null", dir / "link");
    EXPECT_EQ(replaceFile(dir / "null", "new"), -3);
    EXPECT_EQ(replaceFile(dir / "link", "new"), -3);
    EXPECT_EQ(typeOf("null"), fs::file_type::character);
    EXPECT_TRUE(strays({"null", "link"}).empty());
}

TEST_F(AtomicFileTest, ReplacedFileKeepsItsPermissionsAndLongNamesFit)
{
    const fs::path file = m_dir.write("show.txt", "old");
    ::chmod(file.c_str(), 0640);
    ASSERT_EQ(replaceFile(file, "new"), 0);
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);

    // The longest legal names: the temporary name beside them must not be longer.
    for (const size_t length : {250u, 255u}) {
        const std::string name(length, 'n');
        EXPECT_EQ(replaceFile(m_dir.path() / name, "x"), 0) << length;
        EXPECT_EQ(m_dir.read(name), "x");
    }
    EXPECT_EQ(strays({"show.txt", std::string(250, 'n'), std::string(255, 'n')}).size(), 0u);
}

// Root may write any file, so the check is run by a child process that has become an ordinary
// user (uid 65534) with a file of its own: read-only (444) is refused, 644 is replaced. Run as
// an ordinary user, the test needs no child.
TEST_F(AtomicFileTest, ReadOnlyFileIsRefused)
{
    const uid_t user = ::geteuid() == 0 ? 65534 : ::geteuid();
    const gid_t group = ::geteuid() == 0 ? 65534 : ::getegid();
    ::chmod(m_dir.path().c_str(), 0777);
    const fs::path readOnly = m_dir.write("ro.txt", "old");
    const fs::path writable = m_dir.write("rw.txt", "old");
    for (const auto &file : {readOnly, writable})
        ASSERT_EQ(::chown(file.c_str(), user, group), 0);
    ::chmod(readOnly.c_str(), 0444);
    ::chmod(writable.c_str(), 0644);

    const auto saveAsUser = [&](const fs::path &file) {
        if (::geteuid() != 0)
            return replaceFile(file, "new");
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setresgid(group, group, group) != 0 ||
                ::setresuid(user, user, user) != 0)
                ::_exit(100);
            ::_exit(-replaceFile(file, "new"));
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        return WIFEXITED(status) ? -WEXITSTATUS(status) : -100;
    };
    EXPECT_EQ(saveAsUser(readOnly), -3);
    EXPECT_EQ(m_dir.read("ro.txt"), "old");
    EXPECT_EQ(saveAsUser(writable), 0);
    EXPECT_EQ(m_dir.read("rw.txt"), "new");
    EXPECT_TRUE(strays({"ro.txt", "rw.txt"}).empty());
}

// A full disk, played by a file size limit: the write fails part way and the old file stays.
TEST_F(AtomicFileTest, FailedWriteLeavesTheOldFile)
{
    const fs::path file = m_dir.write("big.png", "old picture");
    const std::string bytes(200000, 'x');
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const int32_t result = replaceFile(file, bytes);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(m_dir.read("big.png"), "old picture");
    EXPECT_TRUE(strays({"big.png"}).empty());

    // Dropped before commit: nothing replaced, nothing left.
    {
        AtomicFile unfinished;
        ASSERT_EQ(unfinished.open(file), 0);
        EXPECT_EQ(unfinished.write(bytes), 0);
    }
    EXPECT_EQ(m_dir.read("big.png"), "old picture");
    EXPECT_TRUE(strays({"big.png"}).empty());
    AtomicFile closed;
    EXPECT_EQ(closed.write("x"), -1);
    EXPECT_EQ(closed.commit(), -1);
}

} // namespace
} // namespace vorn
