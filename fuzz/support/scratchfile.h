// The file a fuzz target hands to the code under test, which reads it by name as it reads a
// user's file: made once per fuzzing process in /dev/shm (or /tmp), rewritten for every input
// and removed when the process ends.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace vorn::fuzz {

class ScratchFile {
public:
    // `stem` starts the file's name; a unique ending is added.
    explicit ScratchFile(const char *stem)
    {
        const char *dir = std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
        m_path = std::string(dir) + "/" + stem + "-XXXXXX";
        const int fd = mkstemp(m_path.data());
        if (fd < 0)
            std::abort();
        close(fd);
    }
    ~ScratchFile() { std::remove(m_path.c_str()); }
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    const std::string &path() const { return m_path; }

    // The file holds these bytes, then `zeros` zero bytes.
    void write(const uint8_t *data, size_t size, size_t zeros = 0) const
    {
        std::FILE *file = std::fopen(m_path.c_str(), "wb");
        if (!file)
            std::abort();
        if (size > 0)
            std::fwrite(data, 1, size, file);
        static const uint8_t block[4096] = {};
        for (size_t left = zeros; left > 0;) {
            const size_t count = std::min(left, sizeof block);
            std::fwrite(block, 1, count, file);
            left -= count;
        }
        std::fclose(file);
    }

private:
    std::string m_path;
};

} // namespace vorn::fuzz
