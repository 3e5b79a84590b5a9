// Helpers for the file-system tests: a temporary directory tree, file times
// set from outside the library, the current directory changed for a scope,
// and the library's functions of each width.
#ifndef VORLIX_TESTS_FS_FS_SUPPORT_H
#define VORLIX_TESTS_FS_FS_SUPPORT_H

#include <gtest/gtest.h>
#include <vorlix/vorlix.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

#include "support.h"

namespace fstest {

#if defined(_WIN32)
const char kSep = '\\';
#else
const char kSep = '/';
#endif

// A fresh directory under the temporary directory, removed with all it
// holds when the object goes. Paths are 8-bit, with the platform separator;
// the process id in the name keeps apart test programs run side by side.
class TempTree {
public:
    explicit TempTree(const char* tag) {
        static int counter = 0;
        m_root = testsupport::TempDir() + "vorlix_fs_" + tag + "_" + std::to_string(testsupport::ProcessId()) + "_" +
                 std::to_string(++counter);
        std::filesystem::remove_all(m_root, m_ec);
        std::filesystem::create_directories(m_root, m_ec);
    }
    ~TempTree() { std::filesystem::remove_all(m_root, m_ec); }
    const std::string& root() const { return m_root; }
    std::string Path(const std::string& rel) const { return m_root + kSep + rel; }
    void File(const std::string& rel, const std::string& bytes = "") const {
        if (std::FILE* f = std::fopen(Path(rel).c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
    }
    void Dir(const std::string& rel) { std::filesystem::create_directories(Path(rel), m_ec); }
    bool Exists(const std::string& rel) { return std::filesystem::exists(Path(rel), m_ec); }
    bool IsDir(const std::string& rel) { return std::filesystem::is_directory(Path(rel), m_ec); }
#if !defined(_WIN32)
    void Chmod(const std::string& rel, mode_t mode) const { ::chmod(Path(rel).c_str(), mode); }
#endif

private:
    std::string m_root;
    std::error_code m_ec;
};

// Sets a file's last-access and last-write times (seconds since 1970, UTC).
inline bool SetTimes(const std::string& path, long long access, long long write) {
#if defined(_WIN32)
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME ft[2];
    long long t[2] = {access, write};
    for (int i = 0; i < 2; ++i) {
        unsigned long long v = static_cast<unsigned long long>(t[i] + 11644473600LL) * 10000000ULL;
        ft[i] = FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)};
    }
    BOOL ok = SetFileTime(h, nullptr, &ft[0], &ft[1]);
    CloseHandle(h);
    return ok != 0;
#else
    struct timespec times[2] = {{static_cast<time_t>(access), 0}, {static_cast<time_t>(write), 0}};
    return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
#endif
}

// Makes the current directory another for the life of the object.
class CwdGuard {
public:
    explicit CwdGuard(const std::string& dir) : m_old(std::filesystem::current_path(m_ec)) {
        std::filesystem::current_path(dir, m_ec);
    }
    ~CwdGuard() { std::filesystem::current_path(m_old, m_ec); }

private:
    std::error_code m_ec;
    std::filesystem::path m_old;
};

// The library's file-system functions of one width, and text conversion
// for the tests (UTF-8 on the 8-bit side).
template <class Ch>
struct Fs;

template <>
struct Fs<char> {
    typedef CFileFindA Finder;
    typedef MString String;
    static String S(const std::string& s) { return String(s.c_str()); }
    static std::string Str(const char* s) { return s ? s : ""; }
    static int MakeDirectory(const char* p, int b) { return Byte_MakeDirectory(p, b); }
    static int IsDirectory(const char* p) { return Byte_IsDirectory(p); }
    static int IsFile(const char* p) { return Byte_IsFile(p); }
    static const char* ModulePath() { return Byte_GetModulePath(); }
    static void DefaultFilePath(String& out, const char* name) { Byte_GetDefaultFilePath(out, name); }
};

template <>
struct Fs<unsigned short> {
    typedef CFileFindU Finder;
    typedef UString String;
    static String S(const std::string& s) {
        String out;
        out.FromMBC(65001, s.c_str());
        return out;
    }
    static std::string Str(const unsigned short* s) {
        MString out;
        out.FromUnicode(65001, s);
        return std::string(out);
    }
    static int MakeDirectory(const unsigned short* p, int b) { return Uni_MakeDirectory(p, b); }
    static int IsDirectory(const unsigned short* p) { return Uni_IsDirectory(p); }
    static int IsFile(const unsigned short* p) { return Uni_IsFile(p); }
    static const unsigned short* ModulePath() { return Uni_GetModulePath(); }
    static void DefaultFilePath(String& out, const unsigned short* name) { Uni_GetDefaultFilePath(out, name); }
};

typedef ::testing::Types<char, unsigned short> Widths;

}  // namespace fstest

#endif
