// CLogFileA (8-bit paths, MString) and CLogFileU (16-bit paths, UString):
// a log file whose path carries the date and time, kept open and moved on
// to a new file when the stamped path changes.
//
// OpenLogFile(base, name, layout, bNewFile) reads the clock once, forms the
// path of the current period from the layout and compares it, ignoring
// case, with the path it holds. The same path with the file open costs no
// file-system call: the handle comes back as it is, so a caller may ask for
// it before every record. A new path closes the old file, then opens the
// new one when it exists (with bNewFile as the create argument, the header
// when bNewFile is non-zero, and the position at the end, so that earlier
// records stay), or creates its missing directories and the file. The
// caller writes the records with API_WriteFile and never closes the handle.
//
// Layouts ("/" on POSIX where Windows has "\"; year, month, day, hour,
// minute, second of one reading of the clock, in local time):
//
//   2  base\YYMMDD_name                                 a new file each day
//   3  base\YYMMDD\HH_name                              each hour
//   4  base\YYYY\YYYYMM\YYYYMMDD\YYYYMMDD_name_HH.log     each hour
//   5  base\YYYY\YYYYMM\YYYYMMDD\HH\MI\YYYYMMDD_name_HHMISS.log   each second
//   1, and any other number:  base\name                  never
//
// YY is the year modulo 100. Only layouts 4 and 5 add ".log"; elsewhere the
// name is used as given. The base directory is used as given (the layouts
// put the separator after it): an empty base gives a path that starts with
// the separator, "/name" on POSIX, "\name" on Windows.
//
// A file created here begins with a header: none for CLogFileA, the
// byte-order mark U+FEFF (FF FE on little-endian machines) for CLogFileU. An
// existing file reopened with bNewFile non-zero gets the header written over
// its first two bytes (a 16-bit log already starts with FF FE); it is never
// emptied.
//
// When an open fails (null), the name, layout and path are kept and the
// handle is null: the next call in the same period opens the file again,
// creating it when missing but not its directories, writes the header and
// moves to the end of the file.
//
// The object is a plain value. Copies share the handle; the destructor never
// closes it: CloseLogFile does, and after that no copy may use the handle.
// One thread uses an object at a time.
#ifndef VORLIX_LOG_LOGFILE_H
#define VORLIX_LOG_LOGFILE_H

#include <vorlix/base/string.h>
#include <vorlix/base/time.h>
#include <vorlix/config.h>

namespace vorlix {

template <class Ch>
class VORLIX_API BasicLogFile {
public:
    typedef BasicString<Ch> String;
    // The manager keeps log files by value in a CObjArray, which moves them
    // as raw bytes: the strings and the handle value hold no pointer into
    // the object, and nothing points into it.
    typedef void RelocatesAsBytes;

    // Empty strings, no file, layout 0.
    BasicLogFile() noexcept;
    // The four fields, the handle value included: both refer to one file.
    BasicLogFile(const BasicLogFile& src) noexcept;
    BasicLogFile& operator=(const BasicLogFile& src) noexcept;
    // Releases the strings; the file stays open.
    virtual ~BasicLogFile();

    // The handle of the current period's file, or null. lpszBaseDir without
    // a trailing separator; null texts count as empty.
    void* OpenLogFile(const Ch* lpszBaseDir, const Ch* lpszLogName, int nLogType, int bNewFile);
    // Empties the path and closes the file; the name and layout stay.
    // Harmless without a file.
    void CloseLogFile();

    // strPath := the path of the log file of this layout for the time tm
    // (the local calendar fields of tm; all 0 where the platform cannot
    // convert it). OpenLogFile and the manager form their paths with it.
    static void GetLogFilePath(String& strPath, const Ch* lpszBaseDir, const Ch* lpszLogName, int nLogType,
                               const MTime& tm);

    String m_strFilePath;  // the path last opened or attempted; empty when closed
    void* m_hFile;         // the open file, or null
    String m_strLogName;   // the name of the last OpenLogFile
    int m_nLogType;        // the layout of the last OpenLogFile
};

}  // namespace vorlix

class VORLIX_API CLogFileA : public vorlix::BasicLogFile<char> {};
class VORLIX_API CLogFileU : public vorlix::BasicLogFile<unsigned short> {};

#endif
