#pragma once
// Support for the tests of the Windows backend, which run under Windows or Wine: a fresh folder
// that is the current directory while the object lives, and a monotonic stopwatch.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>

class WinTempFolder {
  public:
    WinTempFolder() {
        char cwd[MAX_PATH] = {};
        ::GetCurrentDirectoryA(MAX_PATH, cwd);
        m_oldCwd = cwd;
        char base[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, base);
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // A parameterised test's name holds a '/', which no folder name may.
        std::string name = info ? info->name() : "test";
        for (char& c : name)
            c = c == '/' ? '-' : c;
        m_path =
            std::string(base) + "kqwin-" + std::to_string(::GetCurrentProcessId()) + "-" + name;
        ::CreateDirectoryA(m_path.c_str(), nullptr);
        EXPECT_TRUE(::SetCurrentDirectoryA(m_path.c_str())) << m_path;
    }
    WinTempFolder(const WinTempFolder&) = delete;
    WinTempFolder& operator=(const WinTempFolder&) = delete;
    ~WinTempFolder() {
        ::SetCurrentDirectoryA(m_oldCwd.c_str());
        RemoveTree(m_path);
    }

    static void WriteFile(const char* name, const std::string& bytes) {
        const HANDLE h = ::CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << name;
        DWORD written = 0;
        ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &written, nullptr);
        ::CloseHandle(h);
    }

  private:
    static void RemoveTree(const std::string& dir) {
        WIN32_FIND_DATAA data;
        const HANDLE search = ::FindFirstFileA((dir + "\\*").c_str(), &data);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = data.cFileName;
                if (name == "." || name == "..")
                    continue;
                const std::string path = dir + "\\" + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(path);
                else
                    ::DeleteFileA(path.c_str());
            } while (::FindNextFileA(search, &data));
            ::FindClose(search);
        }
        ::RemoveDirectoryA(dir.c_str());
    }

    std::string m_oldCwd;
    std::string m_path;
};

inline uint64_t StopwatchMs() {
    return ::GetTickCount64();
}
