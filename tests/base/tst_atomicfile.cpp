// Atomic saves: what may be replaced, through links, with short temporary names, and failed
// saves that leave the old file and no stray temporary.
#include "base/atomicfile.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <optional>
#include <csignal>
#include <cstring>
#include <functional>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace vorn {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
protected:
    // Every name in the folder, sorted: a temporary file must never be left behind.
    std::vector<std::string> names() const
    {
        std::vector<std::string> found;
        for (const auto &entry : fs::directory_iterator(m_dir.path()))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    test::TempDir m_dir;
};

// The longest legal names: the temporary name beside them must not be longer.
TEST_F(AtomicFileTest, LongestNamesFit)
{
    for (const size_t length : {250u, 255u}) {
        const std::string name(length, 'n');
        EXPECT_EQ(replaceFile(m_dir.path() / name, "x"), 0) << length;
        EXPECT_EQ(m_dir.read(name), "x");
    }
    EXPECT_EQ(names(), (std::vector<std::string>{std::string(250, 'n'), std::string(255, 'n')}));
}

// Who saves: the test's own user, or (as root) a child that has become uid:gid with the given
// supplementary groups.
struct Saver {
    uid_t uid;
    gid_t gid;
    std::vector<gid_t> groups;
};

// replaceFile as `saver`; the failure's text comes back through a pipe.
int32_t saveAs(const std::optional<Saver> &saver, const fs::path &file, std::string &why)
{
    SaveFailure failure;
    if (!saver) {
        const int32_t result = replaceFile(file, "new", &failure);
        why = failure.text();
        return result;
    }
    int ends[2];
    if (::pipe(ends) != 0)
        return -100;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        if (::setgroups(saver->groups.size(), saver->groups.data()) != 0 ||
            ::setresgid(saver->gid, saver->gid, saver->gid) != 0 ||
            ::setresuid(saver->uid, saver->uid, saver->uid) != 0)
            ::_exit(100);
        const int32_t result = replaceFile(file, "new", &failure);
        const std::string text = failure.text();
        (void)!::write(ends[1], text.data(), text.size());
        ::_exit(-result);
    }
    ::close(ends[1]);
    why.clear();
    char chunk[512];
    for (ssize_t n; (n = ::read(ends[0], chunk, sizeof chunk)) > 0;)
        why.append(chunk, size_t(n));
    ::close(ends[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? -WEXITSTATUS(status) : -100;
}

std::string attribute(const fs::path &file, const char *name)
{
    std::string value(256, '\0');
    const ssize_t n = ::getxattr(file.c_str(), name, value.data(), value.size());
    value.resize(size_t(std::max<ssize_t>(n, 0)));
    return value;
}

// A POSIX ACL as the kernel stores it: version 2, then (tag, permissions, id) entries.
std::string aclBytes(std::initializer_list<std::array<uint32_t, 3>> entries)
{
    std::string bytes(4, '\0');
    bytes[0] = 2;
    for (const auto &[tag, perm, id] : entries) {
        const uint16_t tp[2] = {uint16_t(tag), uint16_t(perm)};
        bytes.append(reinterpret_cast<const char *>(tp), 4);
        bytes.append(reinterpret_cast<const char *>(&id), 4);
    }
    return bytes;
}

// Each row makes "out" (and what it leads to) in a folder open to everyone, saves "new" to it
// as someone, and checks the result, the reason a refusal gives, the name whose contents
// became "new", every name the folder holds afterwards (no stray temporary), and what the old
// file carried: its mode, group, attributes, other names. A link stays a link, a refused name
// stays what it was.
TEST_F(AtomicFileTest, WhatMayBeReplacedAndWhatASaveKeeps)
{
    const fs::path dir = m_dir.path();
    const fs::path out = dir / "out";
    const bool root = ::geteuid() == 0;
    const auto stat = [](const fs::path &file) {
        struct stat info {};
        ::stat(file.c_str(), &info);
        return info;
    };
    const auto backdate = [](const fs::path &file) {
        const timespec hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        ::utimensat(AT_FDCWD, file.c_str(), hourAgo, 0);
    };
    const auto old = [&] { m_dir.write("out", "old"); };
    const auto owned = [&](uid_t uid, gid_t gid, mode_t mode) {
        old();
        ::chown(out.c_str(), uid, gid);
        ::chmod(out.c_str(), mode);
    };
    const std::string acl = aclBytes({{0x01, 6, ~0u}, {0x02, 4, 65534}, {0x04, 6, ~0u},
                                      {0x10, 4, ~0u}, {0x20, 0, ~0u}});
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(::pipe(pipeEnds), 0);
    int held = -1;  // a temporary locked by a save that still runs
    const Saver member{1234, 1234, {5555}};
    const Saver stranger{1234, 1234, {}};
    const Saver self{0, 0, {}};  // root: only to make device nodes (never a real one of /dev)
    using Names = std::vector<std::string>;
    const struct {
        const char *what;
        std::function<void()> make;
        std::optional<Saver> saver;
        int32_t result;
        const char *reason;   // in the failure's text
        const char *written;  // the name whose contents become "new" (on success)
        Names names;
        std::function<void()> check = [] {};
    } cases[] = {
        {"missing name", [] {}, std::nullopt, 0, "", "out", {"out"}},
        {"regular file", old, std::nullopt, 0, "", "out", {"out"}},
        {"link to a file", [&] { m_dir.write("file", "old"); fs::create_symlink("file", out); },
         std::nullopt, 0, "", "file", {"file", "out"}},
        {"dangling link creates its target", [&] { fs::create_symlink("made", out); },
         std::nullopt, 0, "", "made", {"made", "out"}},
        {"FIFO", [&] { ::mkfifo(out.c_str(), 0644); }, std::nullopt, -3, "", "", {"out"}},
        {"link to a FIFO", [&] { ::mkfifo((dir / "fifo").c_str(), 0644); fs::create_symlink("fifo", out); },
         std::nullopt, -3, "", "", {"fifo", "out"}},
        {"link to a pipe through /proc", [&] { fs::create_symlink("/proc/self/fd/" + std::to_string(pipeEnds[1]), out); },
         std::nullopt, -3, "", "", {"out"}},
        {"a directory says so", [&] { fs::create_directory(out); }, std::nullopt, -3, "フォルダ", "", {"out"}},
        {"links in a circle say so", [&] { fs::create_symlink("out", dir / "loop"); fs::create_symlink("loop", out); },
         std::nullopt, -3, "symbolic links", "", {"loop", "out"}},
        {"a character device", [&] { ::mknod(out.c_str(), S_IFCHR | 0666, ::makedev(1, 3)); },
         self, -3, "", "", {"out"}},
        {"a link to a character device", [&] {
             ::mknod((dir / "null").c_str(), S_IFCHR | 0666, ::makedev(1, 3)); fs::create_symlink("null", out);
         }, self, -3, "", "", {"null", "out"},
         [&] { EXPECT_EQ(fs::status(dir / "null").type(), fs::file_type::character); }},
        {"a private file stays private, the temporary unnamed or 0600", [&] {
             owned(0, 0, 0600);
             AtomicFile file;
             ASSERT_EQ(file.open(out), 0);
             for (const auto &name : names())
                 EXPECT_EQ(stat(dir / name).st_mode & 077, 0u) << name;
         }, std::nullopt, 0, "", "out", {"out"}, [&] { EXPECT_EQ(stat(out).st_mode & 07777, 0600u); }},
        {"a group member keeps the group", [&] { owned(1000, 5555, 0660); }, member, 0, "", "out", {"out"},
         [&] { EXPECT_EQ(stat(out).st_gid, 5555u); EXPECT_EQ(stat(out).st_mode & 07777, 0660u); }},
        {"losing owner and group is refused", [&] { owned(1000, 5555, 0666); }, stranger, -3, "5555", "", {"out"}},
        {"user attributes and the ACL stay", [&] {
             old();
             ASSERT_EQ(::setxattr(out.c_str(), "user.note", "kept", 4, 0), 0);
             ASSERT_EQ(::setxattr(out.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0);
         }, std::nullopt, 0, "", "out", {"out"}, [&] {
             EXPECT_EQ(attribute(out, "user.note"), "kept");
             EXPECT_EQ(attribute(out, "system.posix_acl_access"), acl);
             EXPECT_EQ(stat(out).st_mode & 070, 040u);  // the mask, not the group's rw
         }},
        {"every hard link sees the new text", [&] { old(); fs::create_hard_link(out, dir / "other"); },
         std::nullopt, 0, "", "other", {"other", "out"},
         [&] { EXPECT_EQ(stat(out).st_ino, stat(dir / "other").st_ino); }},
        {"a killed save leaves nothing; old temporaries go, a running save's stays", [&] {
             for (const char *name : {".vorn-stale1", ".vorn-runnin"})
                 backdate(m_dir.write(name, "left"));
             m_dir.write(".vorn-fresh1", "left");
             held = ::open((dir / ".vorn-runnin").c_str(), O_RDONLY);
             ASSERT_EQ(::flock(held, LOCK_EX), 0);
             if (::fork() == 0) {
                 AtomicFile killed;
                 if (killed.open(dir / "killed") == 0 && killed.write(std::string(100000, 'x')) == 0)
                     ::kill(::getpid(), SIGKILL);
                 ::_exit(1);
             }
             int status = 0;
             ::wait(&status);
             EXPECT_TRUE(WIFSIGNALED(status));
         }, std::nullopt, 0, "", "out", {".vorn-fresh1", ".vorn-runnin", "out"}, [&] { ::close(held); }},
        // Root may write any file: the save is made as the file's owner.
        {"a read-only file is refused", [&] { owned(65534, 65534, 0444); },
         root ? std::optional(Saver{65534, 65534, {}}) : std::nullopt, -3, "", "", {"out"}},
        {"a read-only folder says so", [&] { ::chmod(dir.c_str(), 0755); }, Saver{65534, 65534, {}},
         -3, "Permission denied", "", {}},
    };
    bool skipped = false;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.saver && !root) {
            skipped = true;
            continue;
        }
        fs::remove_all(dir);
        fs::create_directories(dir);
        ::chmod(dir.c_str(), 0777);
        c.make();
        const auto before = fs::symlink_status(out).type();
        std::string why;
        EXPECT_EQ(saveAs(c.saver, out, why), c.result);
        c.check();
        EXPECT_EQ(fs::symlink_status(out).type(),
                  before == fs::file_type::not_found && c.result == 0 ? fs::file_type::regular : before);
        if (c.result == 0)
            EXPECT_EQ(m_dir.read(c.written), "new");
        else
            EXPECT_EQ(why.rfind(dir.string(), 0), 0u) << why;  // the file or its folder
        if (c.result != 0 && before == fs::file_type::regular)
            EXPECT_EQ(m_dir.read("out"), "old");
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(names(), c.names);
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    if (skipped)
        GTEST_SKIP() << "saving as another user needs root";
}

// The original kept before a save takes the first free name and the original's mode.
TEST_F(AtomicFileTest, KeptCopyNeverReplacesAName)
{
    const fs::path file = m_dir.write("show.txt", "original");
    ::chmod(file.c_str(), 0600);
    m_dir.write("show.txt.bak", "someone's");
    const auto copy = keepCopy(file);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->filename(), "show.txt.bak2");
    EXPECT_EQ(m_dir.read("show.txt.bak2"), "original");
    EXPECT_EQ(m_dir.read("show.txt.bak"), "someone's");
    EXPECT_EQ(fs::status(*copy).permissions(), fs::perms(0600));
}

// A full disk, played by a file size limit: the write fails part way and the old file stays,
// whether a large text fails while written or a small one when committed.
TEST_F(AtomicFileTest, FailedWriteLeavesTheOldFile)
{
    const fs::path file = m_dir.write("big.png", "old picture");
    const std::string bytes(200000, 'x');
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    for (const size_t size : {bytes.size(), size_t(10000)}) {
        const struct rlimit small{4096, saved.rlim_max};
        ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
        SaveFailure why;
        const int32_t result = replaceFile(file, bytes.substr(0, size), &why);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        EXPECT_EQ(result, -1) << size;
        EXPECT_EQ(why.text(), file.string() + ": " + std::strerror(EFBIG));
        EXPECT_EQ(m_dir.read("big.png"), "old picture");
        EXPECT_EQ(names(), std::vector<std::string>{"big.png"});
    }
    std::signal(SIGXFSZ, previous);

    // Dropped before commit: nothing replaced, nothing left.
    {
        AtomicFile unfinished;
        ASSERT_EQ(unfinished.open(file), 0);
        EXPECT_EQ(unfinished.write(bytes), 0);
    }
    EXPECT_EQ(m_dir.read("big.png"), "old picture");
    EXPECT_EQ(names(), std::vector<std::string>{"big.png"});
    AtomicFile closed;
    EXPECT_EQ(closed.write("x"), -1);
    EXPECT_EQ(closed.commit(), -1);
}

} // namespace
} // namespace vorn
