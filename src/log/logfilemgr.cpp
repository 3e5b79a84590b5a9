// The log file manager, written once for both widths: a base directory and
// the dated log files open below it, found by path (8-bit) or by name
// (16-bit).
#include <vorlix/base/objcore.h>
#include <vorlix/base/time.h>
#include <vorlix/fs/paths.h>
#include <vorlix/log/logfilemgr.h>

namespace vorlix {
namespace detail {
namespace {

// How OpenLogFile finds the entry of a log. The 8-bit manager looks for the
// entry that holds the current period's path, so each period gets an entry
// of its own; the 16-bit manager looks for the entry of the name, whatever
// its period or layout, and that one entry moves on from period to period.
template <class Ch>
constexpr int kFindByName = sizeof(Ch) == 2 ? 1 : 0;

// What SetBaseLogFileDir trims from the end of the base directory: the
// separators the layouts add themselves, and line ends and blanks left from
// reading the name out of a file.
#if defined(_WIN32)
template <class Ch>
constexpr Ch kTrimmed[] = {'\\', '\r', '\n', ' ', 0};
#else
template <class Ch>
constexpr Ch kTrimmed[] = {'\\', '\r', '\n', ' ', '/', 0};
#endif

int MakeDirectories(const char* path) { return Byte_MakeDirectory(path, 0); }
int MakeDirectories(const unsigned short* path) { return Uni_MakeDirectory(path, 0); }

}  // namespace
}  // namespace detail

template <class Ch>
BasicLogFileMgr<Ch>::BasicLogFileMgr() noexcept {
    m_aLogFile.m_nGrowBy = 10;
}

template <class Ch>
BasicLogFileMgr<Ch>::~BasicLogFileMgr() {
    CloseAllFile();
}

template <class Ch>
void BasicLogFileMgr<Ch>::SetBaseLogFileDir(const Ch* lpszBaseDir) {
    PrjWarningMsg(lpszBaseDir != nullptr);
    CloseAllFile();
    m_strBaseDir = lpszBaseDir;
    m_strBaseDir.TrimRight(detail::kTrimmed<Ch>);
    // Every level, the last included; a failure shows again when a file is
    // opened, which creates its directories itself.
    detail::MakeDirectories(m_strBaseDir);
}

template <class Ch>
int BasicLogFileMgr<Ch>::FindLogFile(const Ch* lpszLogName, int nLogType, int bByName) {
    PrjWarningMsg(lpszLogName != nullptr);
    const int n = m_aLogFile.GetSize();
    if (bByName) {
        // The name alone decides: no path needs forming.
        for (int i = 0; i < n; ++i)
            if (m_aLogFile[i].m_strLogName.CompareNoCase(lpszLogName) == 0) return i;
        return -1;
    }
    String path;
    File::GetLogFilePath(path, m_strBaseDir, lpszLogName, nLogType, MTime::GetTickCount());
    for (int i = 0; i < n; ++i)
        if (m_aLogFile[i].m_strFilePath.CompareNoCase(path) == 0) return i;
    return -1;
}

template <class Ch>
void* BasicLogFileMgr<Ch>::OpenLogFile(const Ch* lpszLogName, int nLogType, int bNewFile) {
    int i = FindLogFile(lpszLogName, nLogType, detail::kFindByName<Ch>);
    // A known log opens as it stands: bNewFile is for a file that is new to
    // the manager.
    if (i >= 0) return m_aLogFile[i].OpenLogFile(m_strBaseDir, lpszLogName, nLogType, 0);

    File entry;
    void* h = entry.OpenLogFile(m_strBaseDir, lpszLogName, nLogType, bNewFile);
    if (!h) return nullptr;
    if (m_aLogFile.Add(entry) < 0) {
        // No memory for the entry: nobody else would close the file.
        entry.CloseLogFile();
        return nullptr;
    }
    return h;
}

template <class Ch>
void BasicLogFileMgr<Ch>::CloseFile(const Ch* lpszLogName, int nLogType) {
    int i = FindLogFile(lpszLogName, nLogType, 0);
    if (i < 0) return;
    m_aLogFile[i].CloseLogFile();
    m_aLogFile.RemoveAt(i);
}

template <class Ch>
void BasicLogFileMgr<Ch>::CloseAllFile() {
    const int n = m_aLogFile.GetSize();
    for (int i = 0; i < n; ++i) m_aLogFile[i].CloseLogFile();
    m_aLogFile.RemoveAll();
}

template class BasicLogFileMgr<char>;
template class BasicLogFileMgr<unsigned short>;

}  // namespace vorlix
