// A private temporary directory for one test, removed with the object.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace vorn::test {

class TempDir {
public:
    // Named after the process, the running test and a counter, so parallel runs never share one.
    TempDir()
    {
        static std::atomic<int> counter{0};
        std::string name = "vorn-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        if (const auto *info = ::testing::UnitTest::GetInstance()->current_test_info())
            name += std::string("-") + info->name();
        for (char &c : name)
            if (c == '/')
                c = '_';  // parameterised test names hold slashes
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &path() const { return m_path; }

    // Writes `bytes` to the relative name (directories made as needed); gives the full path.
    std::filesystem::path write(const std::string &name, std::string_view bytes) const
    {
        const auto file = m_path / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

    // The whole file at the relative name; empty when it cannot be read.
    std::string read(const std::string &name) const
    {
        std::ifstream in(m_path / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path m_path;
};

} // namespace vorn::test
