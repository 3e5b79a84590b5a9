// CFileFindA (8-bit names, MString) and CFileFindU (16-bit names, UString):
// directory enumeration over the platform's find-first / find-next search.
//
// FindFile opens a search and fetches the first matching entry into a
// fetch-ahead record; there is no current entry yet. Each FindNext makes the
// fetched entry current and fetches the next one, returning 0 once nothing
// more was fetched; the entry it made current is still valid then. So:
//
//     CFileFindA find;
//     for (int more = find.FindFile("logs/*.log"); more;) {
//         more = find.FindNext();
//         if (!find.IsDots()) use(find.GetFilePath(), find.GetLength64());
//     }
//
// The root is the directory part of the pattern's full path, without a
// trailing separator ("C:\data" for "C:\data\*.txt"; "C:" for "C:\*.*"; on
// POSIX "/" for "/*"); GetFilePath joins it and the name with the finder's
// separator ("\\" on Windows, "/" on POSIX) unless the root already ends in
// one, and gives the name alone while the root is empty. The time queries
// read the stored UTC fields of a time stamp as local time (an MTime built
// from them with daylight saving -1): the calendar fields show the stamp as
// stored, and in a zone other than UTC the MTime's seconds differ from the
// true instant by the zone's offset. After a search is exhausted its handle
// is closed at once (CloseContext), so that further FindNext calls return 0
// and leave the last entry current. A copy takes the root and the separator
// and starts closed: it never shares a search.
#ifndef VORLIX_FS_FILEFIND_H
#define VORLIX_FS_FILEFIND_H

#include <vorlix/base/string.h>
#include <vorlix/base/time.h>
#include <vorlix/config.h>
#include <vorlix/win.h>

namespace vorlix {

template <class Ch>
class VORLIX_API BasicFileFind;

// The platform search record of each width.
template <class Ch>
struct FileFindRecord;
template <>
struct FileFindRecord<char> {
    typedef win::WIN32_FIND_DATAA Type;
};
template <>
struct FileFindRecord<unsigned short> {
    typedef win::WIN32_FIND_DATAW Type;
};

template <class Ch>
class VORLIX_API BasicFileFind {
public:
    typedef typename FileFindRecord<Ch>::Type FindData;
    typedef BasicString<Ch> String;

    // Closed: no records, no search, empty root, the platform's separator.
    BasicFileFind();
    // The root and the separator; the copy is closed.
    BasicFileFind(const BasicFileFind& src);
    // Closes this finder, then takes the root and the separator.
    BasicFileFind& operator=(const BasicFileFind& src);

    // The virtual functions, in the order of their slots.
    virtual ~BasicFileFind();
    // The current entry's name; empty without a current entry.
    virtual String GetFileName() const;
    // The root, the separator unless the root ends in "\\" or "/", and
    // GetFileName(); the name alone while the root is empty.
    virtual String GetFilePath() const;
    // GetFileName() without its extension, as _splitpath splits it (the
    // title of ".profile" is empty).
    virtual String GetFileTitle() const;
    // "file://" and GetFilePath(), separators unchanged.
    virtual String GetFileURL() const;
    virtual String GetRoot() const;
    // The stamp of the current entry, its UTC fields read as local time;
    // 1, or 0 (tm unchanged) without a current entry or with a null pointer.
    virtual int GetLastWriteTime(MTime& tm) const;
    virtual int GetLastWriteTime(MTime* ptm) const;
    virtual int GetLastAccessTime(MTime& tm) const;
    virtual int GetLastAccessTime(MTime* ptm) const;
    virtual int GetCreationTime(MTime& tm) const;
    virtual int GetCreationTime(MTime* ptm) const;
    // 1 when the current entry's attributes share a bit with dwMask.
    virtual int MatchesMask(unsigned long dwMask) const;
    // 1 for the directory entries "." and "..".
    virtual int IsDots() const;
    // Starts a search for pszName (null: "*.*"); 1 when an entry matched.
    // On failure the finder is closed, the root kept and the platform's
    // last-error code preserved (2 nothing matched, 3 no such directory);
    // it also fails when the pattern's full path needs more than
    // MAX_PATH - 1 characters. dwReserved is ignored.
    virtual int FindFile(const Ch* pszName = nullptr, unsigned long dwReserved = 0);
    // Makes the fetched entry current and fetches the next; non-zero when
    // one more was fetched, 0 at the end and when no search is open.
    virtual int FindNext();

    // Frees the records and ends an open search; the root stays.
    void Close();

    int IsReadOnly() const { return MatchesMask(0x01); }
    int IsHidden() const { return MatchesMask(0x02); }
    int IsSystem() const { return MatchesMask(0x04); }
    int IsDirectory() const { return MatchesMask(0x10); }
    int IsArchived() const { return MatchesMask(0x20); }
    // The platform's "normal" bit (0x80): an entry with no other attribute.
    int IsNormal() const { return MatchesMask(0x80); }
    // The low 32 bits of the size; 0 without a current entry.
    unsigned long GetLength() const;
    // The whole size; 0 without a current entry.
    long long GetLength64() const;

    FindData* m_pCurInfo;   // the current entry, owned; null before the first FindNext
    FindData* m_pNextInfo;  // the entry fetched ahead, owned
    win::HANDLE m_hFind;    // the open search, or INVALID_HANDLE_VALUE
    String m_strRoot;       // the search's directory, without a trailing separator
    char m_chDirSeparator;  // put between the root and a name

protected:
    // Ends the search with FindClose.
    virtual void CloseContext();
};

}  // namespace vorlix

class VORLIX_API CFileFindA : public vorlix::BasicFileFind<char> {};
class VORLIX_API CFileFindU : public vorlix::BasicFileFind<unsigned short> {};

#endif
