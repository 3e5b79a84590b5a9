// CLogFileMgrA (8-bit names) and CLogFileMgrU (16-bit names): one base
// directory and the dated log files (CLogFileA / CLogFileU) open below it,
// so that a program asks for a log by name and layout and gets the handle
// of its current file.
//
// The caller writes with API_WriteFile and never closes a handle it got:
// the manager closes its files in CloseFile, CloseAllFile,
// SetBaseLogFileDir and its destructor. An entry is added only after its
// file was opened.
//
// The two widths find an existing entry differently:
//
// - CLogFileMgrA looks an entry up by the path of the current period. A new
//   period (a new day, hour or second, by layout) therefore makes a new
//   entry, and the entry of the earlier period stays in the list with its
//   file open until CloseAllFile, SetBaseLogFileDir or the destructor:
//   CloseFile reaches only the current period's entry. With layout 5 that
//   is one more open file for every second in which the log is written; a
//   program that keeps such a log for long calls CloseAllFile from time to
//   time.
// - CLogFileMgrU looks an entry up by its name, ignoring case and the
//   layout: the one entry of a name moves on to the current period's file
//   and closes the old one.
//
// Paths are formed as CLogFileA / CLogFileU form them; an empty base
// directory gives "/name" on POSIX ("\name" on Windows) for layout 1, so
// files land at the root of the file system. A manager is not copyable. One
// thread uses a manager at a time, including the writes through its
// handles.
#ifndef VORLIX_LOG_LOGFILEMGR_H
#define VORLIX_LOG_LOGFILEMGR_H

#include <vorlix/base/objarray.h>
#include <vorlix/base/string.h>
#include <vorlix/config.h>
#include <vorlix/log/logfile.h>

namespace vorlix {

// The log file class that a manager of each width keeps.
template <class Ch>
struct LogFileClasses;
template <>
struct LogFileClasses<char> {
    typedef CLogFileA File;
};
template <>
struct LogFileClasses<unsigned short> {
    typedef CLogFileU File;
};

template <class Ch>
class VORLIX_API BasicLogFileMgr {
public:
    typedef BasicString<Ch> String;
    typedef typename LogFileClasses<Ch>::File File;

    // An empty base directory and no entries; the list grows by 10.
    BasicLogFileMgr() noexcept;
    // Closes every file.
    ~BasicLogFileMgr();
    BasicLogFileMgr(const BasicLogFileMgr&) = delete;
    BasicLogFileMgr& operator=(const BasicLogFileMgr&) = delete;

    // Closes every file, then takes the base directory without the
    // backslashes, CRs, LFs and blanks at its end ("/" too on POSIX) and
    // creates it, every level. A directory that cannot be created is not
    // reported: each file's own open creates its directories again.
    void SetBaseLogFileDir(const Ch* lpszBaseDir);
    // The handle of the current file of that log, or null. A found entry
    // opens with bNewFile 0; a new entry with bNewFile, and it is kept only
    // when its file opened.
    void* OpenLogFile(const Ch* lpszLogName, int nLogType, int bNewFile);
    // The index of the first entry whose name equals lpszLogName ignoring
    // case (bByName non-zero), or whose path equals, ignoring case, the path
    // of that log for the current time (bByName 0); -1 when none does.
    int FindLogFile(const Ch* lpszLogName, int nLogType, int bByName);
    // Closes and removes the entry of the current period's path (looked up
    // by path in both widths); nothing when there is none.
    void CloseFile(const Ch* lpszLogName, int nLogType);
    // Closes every file and removes every entry; the list gives its memory
    // back (capacity 0).
    void CloseAllFile();

    String m_strBaseDir;                      // without a trailing separator
    CObjArray<File, const File&> m_aLogFile;  // the entries, in the order they were added
};

}  // namespace vorlix

class VORLIX_API CLogFileMgrA : public vorlix::BasicLogFileMgr<char> {};
class VORLIX_API CLogFileMgrU : public vorlix::BasicLogFileMgr<unsigned short> {};

#endif
