// The token data stream: reads text one line at a time from a NUL-terminated
// buffer or an open file handle and hands it out as tokens, as runs up to a
// delimiter, or as counted characters. Every read can be taken back: a ring
// keeps the positions before the last ten reads, an explicit stack keeps the
// positions the caller pushes, and a caller may hold a position and rewind
// to it later.
//
// CTokenDataStreamA reads 8-bit text into MString; CTokenDataStreamU reads
// UTF-16 code units into UString, from UTF-16 little-endian (encoding 1),
// big-endian (2) or UTF-8 (3) sources. Both are one template,
// vorlix::BasicTokenDataStream, and so are their positions
// (CTokPosStackItemA/U, vorlix::BasicTokPosStackItem).
//
// Positions are character indexes in memory mode and byte offsets (as
// API_SeekFile reports them) in file mode. The stream never owns its buffer
// or its file: the caller keeps the buffer alive and the handle open for
// the stream's life. A stream is used by one thread at a time.
//
// A line longer than a string can hold (about 2^31 bytes) ends the data:
// the reads fail there as at the end. A read whose text would grow longer
// than a string can hold fails with the position restored and an empty
// result.
#ifndef VORLIX_TOKEN_TOKENSTREAM_H
#define VORLIX_TOKEN_TOKENSTREAM_H

#include <vorlix/base/objarray.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/string.h>

class CTokPosStackItemA;
class CTokPosStackItemU;
class CTokenDataStreamA;
class CTokenDataStreamU;

namespace vorlix {

// The classes of one width.
template <class Ch>
struct TokenClasses;
template <>
struct TokenClasses<char> {
    typedef CTokPosStackItemA Item;
    typedef CTokenDataStreamA Stream;
};
template <>
struct TokenClasses<unsigned short> {
    typedef CTokPosStackItemU Item;
    typedef CTokenDataStreamU Stream;
};

// One position of a stream: where the current line began, where the next
// line will be read from, the column of the next unread character, and the
// current line itself (without its line end).
template <class Ch>
class VORLIX_API BasicTokPosStackItem : public CObjCore {
public:
    // Kept in object arrays, which move their elements as raw bytes.
    typedef void RelocatesAsBytes;
    // All positions 0 and an empty line.
    BasicTokPosStackItem();
    // SetPos with the same arguments.
    BasicTokPosStackItem(unsigned long dwCurLinePos, unsigned long dwNextLinePos, unsigned long dwColumn,
                         const Ch* pszLine);
    BasicTokPosStackItem(const BasicTokPosStackItem& src);
    ~BasicTokPosStackItem();
    // Copies the four members.
    const BasicTokPosStackItem& operator=(const BasicTokPosStackItem& src);
    // Note the order: the line's start comes first, the next line's second.
    void SetPos(unsigned long dwCurLinePos, unsigned long dwNextLinePos, unsigned long dwColumn, const Ch* pszLine);

    unsigned long m_dwNextLinePos;
    unsigned long m_dwCurLinePos;
    unsigned long m_dwColumn;
    BasicString<Ch> m_strLine;
};

}  // namespace vorlix

class VORLIX_API CTokPosStackItemA : public vorlix::BasicTokPosStackItem<char> {
public:
    using BasicTokPosStackItem::BasicTokPosStackItem;
};

class VORLIX_API CTokPosStackItemU : public vorlix::BasicTokPosStackItem<unsigned short> {
public:
    using BasicTokPosStackItem::BasicTokPosStackItem;
};

namespace vorlix {

// The data members of a stream, in their order; the 16-bit stream has its
// encoding between the explicit stack and the ring.
template <class Ch>
struct TokenStreamFields;

template <>
struct TokenStreamFields<char> {
    const char* m_pszText;  // the text in memory mode; null in file mode; not owned
    void* m_hFile;          // the file in file mode; null in memory mode; never closed
    int m_bMemory;          // 1 in memory mode, 0 in file mode
    CTokPosStackItemA m_curPos;
    CObjArray<CTokPosStackItemA, const CTokPosStackItemA&> m_aryTokStack;  // explicit stack, growth step 5
    int m_nAutoTokStackPos;                                                // the ring slot the next save writes
    CTokPosStackItemA m_aAutoTokStack[10];                                 // the ring
};

template <>
struct TokenStreamFields<unsigned short> {
    const unsigned short* m_pszText;
    void* m_hFile;
    int m_bMemory;
    CTokPosStackItemU m_curPos;
    CObjArray<CTokPosStackItemU, const CTokPosStackItemU&> m_aryTokStack;
    // 1 UTF-16 little-endian, 2 big-endian, 3 UTF-8; 1 after InitProperty.
    int m_nEndian;
    int m_nAutoTokStackPos;
    CTokPosStackItemU m_aAutoTokStack[10];
};

template <class Ch>
class VORLIX_API BasicTokenDataStream : public TokenStreamFields<Ch> {
public:
    typedef typename TokenClasses<Ch>::Item Item;

    // Memory mode without text: every read fails as at the end of the data.
    BasicTokenDataStream();
    // Memory mode over pData, reading from character index dwStart.
    BasicTokenDataStream(const Ch* pData, unsigned long dwStart);
    // File mode over hFile; dwStart is the offset at which the caller has
    // placed the file (the stream does not seek to it).
    BasicTokenDataStream(void* hFile, unsigned long dwStart);
    // A copy shares the source's buffer or file handle (and so its file
    // pointer) and receives its own copy of the explicit stack.
    BasicTokenDataStream(const BasicTokenDataStream& src);
    BasicTokenDataStream& operator=(const BasicTokenDataStream& src);
    ~BasicTokenDataStream();

    // (Re)starts the stream: all three positions dwStart and no line, an
    // empty explicit stack, the ring index at 0; the 16-bit stream reads
    // encoding 1 again.
    void InitProperty(const Ch* pData, unsigned long dwStart);
    void InitProperty(void* hFile, unsigned long dwStart);

    // The next word (nDelim -1) or delimiter character (nDelim its index in
    // pszDelims); blanks and tabs are skipped and only separate; tokens
    // never span lines. 0 at the end of the data, with the position as
    // before the call.
    int GetToken(BasicString<Ch>& strToken, const Ch* pszDelims, int& nDelim);
    // The same, with the position unchanged afterwards (the ring still
    // takes one save).
    int GetTokenTest(BasicString<Ch>& strToken, const Ch* pszDelims, int& nDelim);
    // Takes back the last nCount reads (the ring holds ten).
    int GetTokenBack(int nCount);
    // The text up to the character cDelim; a backslash escapes the next
    // character and stays in the text; across lines (bMultiLine) each empty
    // line adds "\r\n". Running out of data across lines leaves the stream
    // at the end of the data.
    int GetTokenToDelimChar(Ch cDelim, BasicString<Ch>& strToken, int bMultiLine, int bIncludeDelim);
    // The text up to the string pszDelim, no escapes; every line break
    // crossed adds "\r\n".
    int GetTokenToDelimStr(const Ch* pszDelim, BasicString<Ch>& strToken, int bMultiLine, int bIncludeDelim);
    // The next nCount characters across lines (line breaks count for
    // nothing, empty lines are skipped).
    int ReadChar(BasicString<Ch>& strRead, int nCount);
    // The same, with the position unchanged afterwards.
    int ReadTest(BasicString<Ch>& strRead, int nCount);
    // The rest of the current line; the next read starts on the next line.
    void SkipCurLine(BasicString<Ch>& strRest);
    // The line's start plus the column: a character index in memory mode,
    // the line's byte offset plus the column in file mode.
    unsigned long GetTokenPos();
    // The current position, for the caller to copy and keep.
    const Item& GetCurTokenStack();
    // Makes pos the current position (in file mode the file pointer moves
    // to its next line).
    void RewindToStack(const Item& pos);
    // The explicit stack; popping an empty one does nothing.
    void PushTokenPos();
    void PopTokenPos();

    // Ring slots in use, one value for each width; values outside 1..10
    // are taken as the nearest.
    static int m_nAUTOTOKSTACKSIZE;

protected:
    // Reads the next line into m_curPos (nOpt 0: the next one that is not
    // empty); 0 when no line is left.
    int GetLine(int nOpt);
    // Save to and restore from the ring (in file mode a restore moves the
    // file pointer to the restored next line).
    void PushAutoTokenStack();
    void PopAutoTokenStack(int nCount);

private:
    class Cursor;  // the stream as a position of the shared reads
};

// The ring size is defined in the library, once for each width; said here
// so that code naming it knows not to look for its definition.
extern template int BasicTokenDataStream<char>::m_nAUTOTOKSTACKSIZE;
extern template int BasicTokenDataStream<unsigned short>::m_nAUTOTOKSTACKSIZE;

}  // namespace vorlix

class VORLIX_API CTokenDataStreamA : public vorlix::BasicTokenDataStream<char> {
public:
    using BasicTokenDataStream::BasicTokenDataStream;
};

class VORLIX_API CTokenDataStreamU : public vorlix::BasicTokenDataStream<unsigned short> {
public:
    using BasicTokenDataStream::BasicTokenDataStream;
    // 1 UTF-16 little-endian, 2 big-endian, 3 UTF-8; takes effect at the
    // next line read. In memory mode with 3 the buffer holds UTF-8 bytes and
    // positions count bytes.
    void SetEndian(int nEndian);
};

#endif
