// Paths and directories, written once for both widths: attribute tests,
// directory chains, the module path and files beside the program.
#include <vorlix/base/objcore.h>
#include <vorlix/base/strarray.h>
#include <vorlix/base/text.h>
#include <vorlix/fs/filefind.h>
#include <vorlix/fs/paths.h>
#include <vorlix/util/winhelp.h>

#include "fs_platform.h"

#include <atomic>
#include <mutex>

namespace vorlix {
namespace detail {
namespace {

using namespace vorlix::detail::fs;

template <class Ch>
struct PathWidth;
template <>
struct PathWidth<char> {
    typedef CFileFindA Finder;
    static int Split(const char* text, const char* seps, MStringArray& out) {
        return Byte_GetSplitToken(text, 0, seps, out);
    }
};
template <>
struct PathWidth<unsigned short> {
    typedef CFileFindU Finder;
    static int Split(const unsigned short* text, const unsigned short* seps, UStringArray& out) {
        return Uni_GetSplitToken(text, 0, seps, out);
    }
};

template <class Ch>
int IsDirectory(const Ch* path) {
    PrjWarningMsg(path != nullptr);
    if (!path) return 0;
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) ? 1 : 0;
}

template <class Ch>
int IsFile(const Ch* path) {
    PrjWarningMsg(path != nullptr);
    if (!path) return 0;
    DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NORMAL)) ? 1 : 0;
}

template <class Ch>
int MakeDirectory(const Ch* path, int bHasFileName) {
    static const Ch kDriveSeps[] = {'\\', ':', '/', 0};
    static const Ch kSeps[] = {'\\', '/', 0};
    static const Ch kHere[] = {'.', 0};
    const Ch sep = static_cast<Ch>(kDirSeparator);
    PrjWarningMsg(path != nullptr);
    if (!path) return 0;

    BasicStringArray<Ch> parts;
    const bool drive = kHasDrives && path[0] && path[1] == ':';
    PathWidth<Ch>::Split(path, drive ? kDriveSeps : kSeps, parts);
    if (drive && parts.GetSize() > 0) parts[0] += static_cast<Ch>(':');
    for (int i = parts.GetSize() - 1; i >= 0; --i)
        if (parts[i].IsEmpty()) parts.RemoveAt(i, 1);

    if (!drive) {
        // The level the path starts from.
        BasicString<Ch> first;
        if (path[0] == '\\' || (!kHasDrives && path[0] == '/')) {
            if (kHasDrives) {
                // The root of the current drive: "C:" from its current
                // directory.
                Ch cwd[1024];
                if (!CurrentDir(_getdrive(), cwd, 1024) || !cwd[0] || !cwd[1]) return 0;
                first.SetString(cwd, 2);
            }
            // Without drives the first level is empty, so that the path
            // starts with the separator: "/".
        } else {
            first = kHere;
        }
        parts.InsertAt(0, first, 1);
    }

    int n = parts.GetSize() - (bHasFileName ? 1 : 0);
    if (n <= 1) return 1;
    BasicString<Ch> built = parts[0];
    built += sep;
    typename PathWidth<Ch>::Finder find;
    for (int i = 1; i < n; ++i) {
        built += parts[i];
        if (!find.FindFile(built)) {
            if (MakeDir(static_cast<const Ch*>(built)) != 0) return 0;
            if (!find.FindFile(built)) return 0;
        }
        find.FindNext();
        if (!find.IsDirectory()) return 0;
        built += sep;
    }
    return 1;
}

// The module path of one width: filled on the first call that succeeds.
template <class Ch>
struct ModulePath {
    static const int kSize = 2048;
    Ch text[kSize];
    std::atomic<bool> ready;
};

ModulePath<char> g_moduleA;
ModulePath<unsigned short> g_moduleU;
std::mutex g_moduleLock;

// Copies the drive-and-directory part into the buffer; false when it is
// empty.
template <class Ch>
bool StorePart(ModulePath<Ch>& m, const BasicString<Ch>& part) {
    int n = part.GetLength();
    if (n <= 0 || n >= ModulePath<Ch>::kSize) return false;
    for (int i = 0; i < n; ++i) m.text[i] = part[i];
    m.text[n] = 0;
    return true;
}

template <class Ch>
bool FillModulePath(ModulePath<Ch>& m);

template <>
bool FillModulePath(ModulePath<char>& m) {
    char name[ModulePath<char>::kSize];
    DWORD n = ModuleFileName(name, ModulePath<char>::kSize);
    if (n == 0 || n >= static_cast<DWORD>(ModulePath<char>::kSize)) return false;
    MString part;
    Byte_GetPathPart(name, part, 3);
    return StorePart(m, part);
}

template <>
bool FillModulePath(ModulePath<unsigned short>& m) {
    UString part;
    if (API_IsWindow98()) {
        // The old family has no 16-bit services: the 8-bit name, converted
        // from the system's code page.
        char name[ModulePath<char>::kSize];
        DWORD n = ModuleFileName(name, ModulePath<char>::kSize);
        if (n == 0 || n >= static_cast<DWORD>(ModulePath<char>::kSize)) return false;
        MString narrow;
        Byte_GetPathPart(name, narrow, 3);
        part.FromMBC(0, narrow);
    } else {
        unsigned short name[ModulePath<unsigned short>::kSize];
        DWORD n = ModuleFileName(name, ModulePath<unsigned short>::kSize);
        if (n == 0 || n >= static_cast<DWORD>(ModulePath<unsigned short>::kSize)) return false;
        Uni_GetPathPart(name, part, 3);
    }
    return StorePart(m, part);
}

template <class Ch>
const Ch* GetModulePath(ModulePath<Ch>& m) {
    if (m.ready.load(std::memory_order_acquire)) return m.text;
    std::lock_guard<std::mutex> hold(g_moduleLock);
    if (!m.ready.load(std::memory_order_relaxed)) {
        if (FillModulePath(m)) m.ready.store(true, std::memory_order_release);
        else m.text[0] = 0;
    }
    return m.text;
}

template <class Ch>
void GetDefaultFilePath(BasicString<Ch>& out, const Ch* modulePath, const Ch* fileName) {
    PrjWarningMsg(fileName != nullptr);
    out = modulePath;
    for (int i = out.GetLength() - 1; i >= 1; --i) {
        if (IsSeparator(modulePath[i])) {
            out.SetString(modulePath, i + 1);
            if (fileName) out += fileName;
            return;
        }
    }
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

namespace d = vorlix::detail;

int Byte_IsDirectory(const char* pszPath) { return d::IsDirectory(pszPath); }
int Uni_IsDirectory(const unsigned short* pszPath) { return d::IsDirectory(pszPath); }

int Byte_IsFile(const char* pszPath) { return d::IsFile(pszPath); }
int Uni_IsFile(const unsigned short* pszPath) { return d::IsFile(pszPath); }

int Byte_MakeDirectory(const char* pszPath, int bHasFileName) { return d::MakeDirectory(pszPath, bHasFileName); }
int Uni_MakeDirectory(const unsigned short* pszPath, int bHasFileName) {
    return d::MakeDirectory(pszPath, bHasFileName);
}

const char* Byte_GetModulePath() { return d::GetModulePath(d::g_moduleA); }
const unsigned short* Uni_GetModulePath() { return d::GetModulePath(d::g_moduleU); }

void Byte_GetDefaultFilePath(MString& strPath, const char* pszFileName) {
    d::GetDefaultFilePath(strPath, Byte_GetModulePath(), pszFileName);
}
void Uni_GetDefaultFilePath(UString& strPath, const unsigned short* pszFileName) {
    d::GetDefaultFilePath(strPath, Uni_GetModulePath(), pszFileName);
}
