#pragma once
// A fresh temporary folder that is the current directory while the object lives: the program
// works on bare names in its current directory, so tests run it inside a folder of their own.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

class TempFolder {
  public:
    explicit TempFolder(const std::string& tag) : m_oldCwd(std::filesystem::current_path()) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The process's id keeps two runs of the suite on one machine out of each other's way.
        std::string name = "kq-" + std::to_string(::getpid()) + "-" + tag;
        if (info != nullptr)
            name += std::string("-") + info->test_suite_name() + "-" + info->name();
        for (char& c : name) {
            if (c == '/')
                c = '_';
        }
        m_path = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(m_path);
        std::filesystem::create_directories(m_path);
        std::filesystem::current_path(m_path);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::current_path(m_oldCwd, ignored);
        std::filesystem::remove_all(m_path, ignored);
    }

    const std::filesystem::path& Path() const { return m_path; }

  private:
    std::filesystem::path m_oldCwd;
    std::filesystem::path m_path;
};

inline void WriteTextFile(const std::string& name, const std::string& content) {
    std::ofstream(name, std::ios::binary) << content;
}

inline std::string ReadTextFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Sets a file's last-write time to whole seconds since 1970.
inline void SetLastWriteTime(const std::string& name, int64_t seconds) {
    const struct timespec times[2] = {{static_cast<time_t>(seconds), 0},
                                      {static_cast<time_t>(seconds), 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, name.c_str(), times, 0), 0) << name;
}
