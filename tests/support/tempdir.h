// A private temporary directory for one test, removed with the object.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace vorn::test {

class TempDir {
public:
    // A fresh name from mkdtemp, so parallel runs never share one.
    TempDir()
    {
        std::string name = (std::filesystem::temp_directory_path() / "vorn-test-XXXXXX").string();
        if (!::mkdtemp(name.data()))
            ADD_FAILURE() << "no temporary directory: " << name;
        m_path = name;
    }
    ~TempDir() { std::error_code ignored; std::filesystem::remove_all(m_path, ignored); }
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
