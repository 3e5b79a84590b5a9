// The dated log file, written once for both widths: the paths of the five
// layouts, the roll-over to a new file, and the retry of a failed open.
#include <vorlix/base/file.h>
#include <vorlix/base/objcore.h>
#include <vorlix/fs/paths.h>
#include <vorlix/log/logfile.h>
#include <vorlix/win.h>

#include "../base/length.h"

#include <cstddef>
#include <cstring>
#include <ctime>

namespace vorlix {
namespace detail {
namespace {

// Read and write, others may read and write too.
const DWORD kAccess = 0xC0000000u;
const DWORD kShare = 3;

// The separator the layouts put between the levels of a path.
#if defined(_WIN32)
const char kSeparator = '\\';
#else
const char kSeparator = '/';
#endif

// The layouts' paths. "\\" is the separator (the platform's); %B is the
// base directory and %N the name; %Y the year with four digits, %y the year
// modulo 100, %M the month, %D the day, %h the hour, %m the minute and %s
// the second, each with two digits. Index 0 is layout 1, which every number
// outside 2 to 5 also takes.
const char* const kLayouts[] = {
    "%B\\%N",
    "%B\\%y%M%D_%N",
    "%B\\%y%M%D\\%h_%N",
    "%B\\%Y\\%Y%M\\%Y%M%D\\%Y%M%D_%N_%h.log",
    "%B\\%Y\\%Y%M\\%Y%M%D\\%h\\%m\\%Y%M%D_%N_%h%m%s.log",
};

const char* LayoutText(int nLogType) { return nLogType >= 2 && nLogType <= 5 ? kLayouts[nLogType - 1] : kLayouts[0]; }

// The services of each width.
template <class Ch>
struct LogWidth;
template <>
struct LogWidth<char> {
    static int Exists(const char* path) { return Byte_ExistFile(path); }
    static void* Open(const char* path, int bCreate) { return Byte_OpenFile(path, kAccess, kShare, bCreate); }
    static int MakeDirectories(const char* path) { return Byte_MakeDirectory(path, 1); }
};
template <>
struct LogWidth<unsigned short> {
    static int Exists(const unsigned short* path) { return Uni_ExistFile(path); }
    static void* Open(const unsigned short* path, int bCreate) { return Uni_OpenFile(path, kAccess, kShare, bCreate); }
    static int MakeDirectories(const unsigned short* path) { return Uni_MakeDirectory(path, 1); }
};

// What a new file starts with, written right after the open, at the start
// of the file. The 16-bit log begins with the byte-order mark, one code unit
// in the machine's order, so that readers know its encoding; the 8-bit log
// has no header.
template <class Ch>
void WriteHeader(void* hFile) {
    if constexpr (sizeof(Ch) == 2) {
        const unsigned short bom = 0xFEFF;
        API_WriteFile(hFile, &bom, sizeof bom);
    } else {
        (void)hFile;
    }
}

template <class Ch>
std::size_t TextLength(const Ch* p) {
    if (!p) return 0;
    if constexpr (sizeof(Ch) == 1) {
        return std::strlen(p);
    } else {
        std::size_t n = 0;
        while (p[n]) ++n;
        return n;
    }
}

// Writes v as printf's "%0<nWidth>d" does (zero-padded to nWidth
// characters, the sign included) at out; returns the characters written (at
// most 11).
template <class Ch>
int PutNumber(Ch* out, int v, int nWidth) {
    char digits[12];
    int n = 0;
    unsigned int mag = v < 0 ? 0u - static_cast<unsigned int>(v) : static_cast<unsigned int>(v);
    do {
        digits[n++] = static_cast<char>('0' + mag % 10);
        mag /= 10;
    } while (mag);
    while (n < nWidth - (v < 0 ? 1 : 0)) digits[n++] = '0';
    int k = 0;
    if (v < 0) out[k++] = '-';
    while (n > 0) out[k++] = static_cast<Ch>(digits[--n]);
    return k;
}

// strPath := the layout's path for the calendar fields of tm; false (and
// strPath empty) when the texts are too long for a string.
template <class Ch>
bool FormPath(BasicString<Ch>& strPath, const Ch* base, const Ch* name, int nLogType, const MTime& tm) {
    // Every field comes from one conversion of one reading of the clock;
    // layout 1 has none. As MTime's own field queries, every field is 0 when
    // the platform cannot convert the time.
    const char* layout = LayoutText(nLogType);
    int fields[7] = {};
    std::tm t = {};
    std::time_t secs = static_cast<std::time_t>(tm.GetTime());
    if (layout != kLayouts[0] && win::localtime_s(&t, &secs) == 0) {
        const int year = t.tm_year + 1900;
        const int values[7] = {year, year % 100, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
        for (int i = 0; i < 7; ++i) fields[i] = values[i];
    }

    const std::size_t nBase = TextLength(base), nName = TextLength(name);
    // The longest layout has 12 characters of its own and 16 numbers of up
    // to 11 characters each.
    const std::size_t kFixed = 12 + 16 * 11;
    const int nRoom = CheckedLength<Ch>(nBase + nName + kFixed);
    if (nRoom < 0 || CheckedLength<Ch>(nBase) < 0 || CheckedLength<Ch>(nName) < 0) {
        strPath.Empty();
        return false;
    }
    Ch* out = strPath.GetBuffer(nRoom);
    if (!out) return false;
    int k = 0;
    for (const char* p = layout; *p; ++p) {
        if (*p == '\\') {
            out[k++] = static_cast<Ch>(kSeparator);
            continue;
        }
        if (*p != '%') {
            out[k++] = static_cast<Ch>(*p);
            continue;
        }
        switch (*++p) {
        case 'B':
            if (nBase) std::memcpy(out + k, base, nBase * sizeof(Ch));
            k += static_cast<int>(nBase);
            break;
        case 'N':
            if (nName) std::memcpy(out + k, name, nName * sizeof(Ch));
            k += static_cast<int>(nName);
            break;
        case 'Y': k += PutNumber(out + k, fields[0], 4); break;
        case 'y': k += PutNumber(out + k, fields[1], 2); break;
        case 'M': k += PutNumber(out + k, fields[2], 2); break;
        case 'D': k += PutNumber(out + k, fields[3], 2); break;
        case 'h': k += PutNumber(out + k, fields[4], 2); break;
        case 'm': k += PutNumber(out + k, fields[5], 2); break;
        case 's': k += PutNumber(out + k, fields[6], 2); break;
        }
    }
    strPath.ReleaseBuffer(k);
    return true;
}

}  // namespace
}  // namespace detail

template <class Ch>
BasicLogFile<Ch>::BasicLogFile() noexcept : m_hFile(nullptr), m_nLogType(0) {}

template <class Ch>
BasicLogFile<Ch>::BasicLogFile(const BasicLogFile& src) noexcept
    : m_strFilePath(src.m_strFilePath),
      m_hFile(src.m_hFile),
      m_strLogName(src.m_strLogName),
      m_nLogType(src.m_nLogType) {}

template <class Ch>
BasicLogFile<Ch>& BasicLogFile<Ch>::operator=(const BasicLogFile& src) noexcept {
    m_strFilePath = src.m_strFilePath;
    m_hFile = src.m_hFile;
    m_strLogName = src.m_strLogName;
    m_nLogType = src.m_nLogType;
    return *this;
}

template <class Ch>
BasicLogFile<Ch>::~BasicLogFile() {}

template <class Ch>
void BasicLogFile<Ch>::GetLogFilePath(String& strPath, const Ch* lpszBaseDir, const Ch* lpszLogName, int nLogType,
                                      const MTime& tm) {
    detail::FormPath(strPath, lpszBaseDir, lpszLogName, nLogType, tm);
}

template <class Ch>
void* BasicLogFile<Ch>::OpenLogFile(const Ch* lpszBaseDir, const Ch* lpszLogName, int nLogType, int bNewFile) {
    typedef detail::LogWidth<Ch> W;
    PrjWarningMsg(lpszBaseDir != nullptr && lpszLogName != nullptr);
    MTime now = MTime::GetTickCount();
    // The name and layout are kept before anything can fail, so that a
    // failed open is retried with them.
    m_strLogName = lpszLogName;
    m_nLogType = nLogType;

    String path;
    if (!detail::FormPath(path, lpszBaseDir, lpszLogName, nLogType, now)) return nullptr;

    // Paths compare ignoring case; the exact comparison first, since within
    // a period the path comes out the same every time.
    if (path == m_strFilePath || path.CompareNoCase(m_strFilePath) == 0) {
        // The same period: the open file as it is, with no file-system call.
        if (m_hFile) return m_hFile;
        // An earlier open of this path failed: try again, creating the file
        // but not its directories.
        m_hFile = W::Open(m_strFilePath, 1);
        if (m_hFile) {
            detail::WriteHeader<Ch>(m_hFile);
            // Records go after whatever the file held already: it may have
            // appeared since the failed open.
            API_SeekFile(m_hFile, 0, 2);
        }
        return m_hFile;
    }

    // A new period, or no file yet.
    m_strFilePath.Swap(path);
    if (m_hFile) {
        API_CloseFile(m_hFile);
        m_hFile = nullptr;
    }
    if (W::Exists(m_strFilePath)) {
        m_hFile = W::Open(m_strFilePath, bNewFile);
        if (!m_hFile) return nullptr;
        if (bNewFile) detail::WriteHeader<Ch>(m_hFile);
        API_SeekFile(m_hFile, 0, 2);
        return m_hFile;
    }
    if (!W::MakeDirectories(m_strFilePath)) return nullptr;
    m_hFile = W::Open(m_strFilePath, 1);
    if (m_hFile) detail::WriteHeader<Ch>(m_hFile);
    return m_hFile;
}

template <class Ch>
void BasicLogFile<Ch>::CloseLogFile() {
    m_strFilePath.Empty();
    if (m_hFile) {
        API_CloseFile(m_hFile);
        m_hFile = nullptr;
    }
}

template class BasicLogFile<char>;
template class BasicLogFile<unsigned short>;

}  // namespace vorlix
