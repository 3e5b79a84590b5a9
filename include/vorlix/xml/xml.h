// The XML tree, its parser and its writer, in an 8-bit form (CTagOptionA,
// CXmlTagA, CAnalXmlA over MString) and a 16-bit form (CTagOptionU,
// CXmlTagU, CAnalXmlU over UString).
//
// A document (CAnalXml) holds its top-level nodes; a node (CXmlTag) holds its
// attributes (CTagOption) and children by value, so copying a node copies its
// subtree. The parser reads through the token data stream, one line at a
// time, and calls the document's OnBeginXmlTag / OnEndXmlTag as elements
// open and nodes complete; with bStoreTag 0 and an OnEndXmlTag that sets
// m_bNoChild on what it has processed, a document of any size is parsed in
// constant memory. The writer prints one node per line with CR LF line ends
// and tab indentation by each node's m_nLevel.
#ifndef VORLIX_XML_XML_H
#define VORLIX_XML_XML_H

#include <vorlix/base/objarray.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/string.h>
#include <vorlix/token/tokenstream.h>

// Node kinds (CXmlTag::m_nTagType).
#define XMLTAG_NONE 0     // empty node; writes nothing
#define XMLTAG_PI 1       // processing instruction <?xml ...?>
#define XMLTAG_ELEMENT 2  // element
#define XMLTAG_COMMENT 3  // <!--...-->, m_strName holds the text
#define XMLTAG_TEXT 4     // character data, entities decoded
#define XMLTAG_CDATA 5    // <![CDATA[...]]>, content verbatim
#define XMLTAG_DECLARE 7  // any other <!...>, m_strName holds its text

// Parse results (m_nParseResult).
#define XMLRES_BEGIN_ABORT 1      // OnBeginXmlTag returned non-zero
#define XMLRES_END_ABORT 2        // OnEndXmlTag returned non-zero
#define XMLRES_END_OF_DATA 3      // the normal end of a document
#define XMLRES_TEXT_OUTSIDE 4     // character data where no element is open
#define XMLRES_BAD_TEXT 5         // ">" where a node should begin, or text without a following "<"
#define XMLRES_NO_CLOSE 6         // a closing ">" is missing
#define XMLRES_UNEXPECTED_END 7   // the data ended inside a node, or "<" followed by "<"
#define XMLRES_BAD_PI 8           // a processing instruction other than xml
#define XMLRES_BAD_CDATA 9        // a broken or unterminated CDATA section
#define XMLRES_BAD_COMMENT 10     // a comment without "-->"
#define XMLRES_TAG_MISMATCH 11    // an end tag for another element
#define XMLRES_BAD_END_TAG 12     // "</" not followed by a name
#define XMLRES_SYNTAX 13          // any other unexpected token, or nesting deeper than 1000 levels

class CAnalXmlA;
class CAnalXmlU;

// ---- 8-bit form ----

class VORLIX_API CTagOptionA : public CObjCore {
public:
    CTagOptionA() {}
    CTagOptionA(const CTagOptionA& src) : CObjCore(src) { *this = src; }
    virtual ~CTagOptionA();
    void Init();
    const CTagOptionA& operator=(const CTagOptionA& src);
    // Reads one attribute: 1 with a name, 1 with an empty name at the end of
    // the attribute list (the closing character left unread), 0 when malformed.
    int FromString(CTokenDataStreamA* pStream);
    // name="value" with the value encoded; 0 (and empty) without a name.
    int ToString(MString& strOut) const;

    MString m_strName;
    MString m_strValue;
};

class VORLIX_API CXmlTagA : public CObjCore {
public:
    CXmlTagA();
    CXmlTagA(const CXmlTagA& src);
    virtual ~CXmlTagA();
    void Init();
    // Deep copy of the whole subtree.
    CXmlTagA& operator=(const CXmlTagA& src);
    CXmlTagA& operator=(CXmlTagA&& src) noexcept;

    // Children. A node whose m_bNoChild is set is refused (0).
    int AddXmlTag(const CXmlTagA& tag);                // index of the new child, or 0
    int InsertXmlTag(int nIndex, const CXmlTagA& tag);  // 1, the new index when appending, or 0
    int UpdateXmlTag(int nIndex, const CXmlTagA& tag);  // 1, the new index when appending, or 0
    int DeleteXmlTag(int nIndex);
    int GetXmlTag(int nIndex, CXmlTagA& tag) const;
    // The first child element named pszName (ignoring case) at or after
    // nStart; nStart is left at the index found, or at the child count.
    int FindXmlTag(const char* pszName, int& nStart) const;
    int ReadXmlTag(const char* pszName, CXmlTagA& tag, int& nStart) const;

    // Attributes, by name ignoring case.
    int ReadOption(const char* pszName, MString& strValue) const;
    int UpdateOption(const char* pszName, const char* pszValue);  // the attribute's index
    int DeleteOption(const char* pszName);

    // Parses one node with its subtree at depth nLevel; pAnalXml receives the
    // callbacks and may be null.
    int FromString(CAnalXmlA* pAnalXml, CTokenDataStreamA* pStream, int nLevel);
    // Writes the node and nDepth levels of descendants (negative: nothing).
    int ToString(MString& strOut, int nDepth) const;
    int ToString(void* hFile, int nDepth) const;

    int m_nParseResult;
    unsigned long m_dwParsePos;
    int m_nLevel;
    MString m_strName;
    int m_nTagType;
    int m_nUserFlag;
    int m_bNoChild;
    CObjArray<CTagOptionA, const CTagOptionA&> m_aryOption;
    CObjArray<CXmlTagA, const CXmlTagA&> m_arySubTag;

protected:
    int FindOption(const char* pszName) const;
};

class VORLIX_API CAnalXmlA {
public:
    CAnalXmlA();
    // A copy duplicates the top-level nodes; it never shares a tokenizer.
    CAnalXmlA(const CAnalXmlA& src);
    CAnalXmlA& operator=(const CAnalXmlA& src);
    ~CAnalXmlA();

    virtual int OnBeginXmlTagA(CXmlTagA& tag, int nLevel, long lParam);
    virtual int OnEndXmlTagA(CXmlTagA& tag, int nLevel, long lParam);

    void Init();
    CObjArray<CXmlTagA, const CXmlTagA&>& GetTagArray() { return m_aryTag; }
    int GetTagCount() const { return m_aryTag.GetSize(); }
    CXmlTagA& GetTag(int nIndex) { return m_aryTag[nIndex]; }
    // Child elements of tag named pszName, ignoring case.
    static int GetTagCount(const CXmlTagA& tag, const char* pszName);

    // 1 when the whole text was parsed (result XMLRES_END_OF_DATA).
    int FromString(const char* pszXml, int bStoreTag);
    int FromString(void* hFile, int bStoreTag);
    int ToString(MString& strOut, int nDepth) const;
    int ToString(void* hFile, int nDepth) const;

    // The five predefined entities.
    static void EncodeXmlText(MString& strText);
    static void DecodeXmlText(MString& strText);

    CObjArray<CXmlTagA, const CXmlTagA&> m_aryTag;
    CTokenDataStreamA* m_pStream;
    int m_nParseResult;
    unsigned long m_dwParsePos;
    long m_lParam;
};

// ---- 16-bit form ----

class VORLIX_API CTagOptionU : public CObjCore {
public:
    CTagOptionU() {}
    CTagOptionU(const CTagOptionU& src) : CObjCore(src) { *this = src; }
    virtual ~CTagOptionU();
    void Init();
    const CTagOptionU& operator=(const CTagOptionU& src);
    int FromString(CTokenDataStreamU* pStream);
    int ToString(UString& strOut) const;

    UString m_strName;
    UString m_strValue;
};

class VORLIX_API CXmlTagU : public CObjCore {
public:
    CXmlTagU();
    CXmlTagU(const CXmlTagU& src);
    virtual ~CXmlTagU();
    void Init();
    CXmlTagU& operator=(const CXmlTagU& src);
    CXmlTagU& operator=(CXmlTagU&& src) noexcept;

    int AddXmlTag(const CXmlTagU& tag);
    int InsertXmlTag(int nIndex, const CXmlTagU& tag);
    int UpdateXmlTag(int nIndex, const CXmlTagU& tag);
    int DeleteXmlTag(int nIndex);
    int GetXmlTag(int nIndex, CXmlTagU& tag) const;
    int FindXmlTag(const unsigned short* pszName, int& nStart) const;
    int ReadXmlTag(const unsigned short* pszName, CXmlTagU& tag, int& nStart) const;

    int ReadOption(const unsigned short* pszName, UString& strValue) const;
    int UpdateOption(const unsigned short* pszName, const unsigned short* pszValue);
    int DeleteOption(const unsigned short* pszName);

    int FromString(CAnalXmlU* pAnalXml, CTokenDataStreamU* pStream, int nLevel);
    int ToString(UString& strOut, int nDepth) const;
    // 16-bit text is written as UTF-16 little-endian code units.
    int ToString(void* hFile, int nDepth) const;

    int m_nParseResult;
    unsigned long m_dwParsePos;
    int m_nLevel;
    UString m_strName;
    int m_nTagType;
    int m_nUserFlag;
    int m_bNoChild;
    CObjArray<CTagOptionU, const CTagOptionU&> m_aryOption;
    CObjArray<CXmlTagU, const CXmlTagU&> m_arySubTag;

protected:
    int FindOption(const unsigned short* pszName) const;
};

class VORLIX_API CAnalXmlU {
public:
    CAnalXmlU();
    CAnalXmlU(const CAnalXmlU& src);
    CAnalXmlU& operator=(const CAnalXmlU& src);
    ~CAnalXmlU();

    virtual int OnBeginXmlTagU(CXmlTagU& tag, int nLevel, long lParam);
    virtual int OnEndXmlTagU(CXmlTagU& tag, int nLevel, long lParam);

    void Init();
    CObjArray<CXmlTagU, const CXmlTagU&>& GetTagArray() { return m_aryTag; }
    int GetTagCount() const { return m_aryTag.GetSize(); }
    CXmlTagU& GetTag(int nIndex) { return m_aryTag[nIndex]; }
    static int GetTagCount(const CXmlTagU& tag, const unsigned short* pszName);

    // Text in memory: a leading FF FE (bytes as stored) is skipped and read
    // little-endian, FE FF big-endian; otherwise the platform's byte order.
    int FromString(const unsigned short* pszXml, int bStoreTag);
    // A file: FF FE little-endian, FE FF big-endian. A file without either
    // mark is read from its start: UTF-16 in the byte order that a zero
    // among its first two bytes shows (00 xx big-endian, xx 00
    // little-endian), otherwise UTF-8, skipping an EF BB BF mark.
    int FromString(void* hFile, int bStoreTag);
    int ToString(UString& strOut, int nDepth) const;
    // Writes the bytes FF FE first.
    int ToString(void* hFile, int nDepth) const;

    static void EncodeXmlText(UString& strText);
    static void DecodeXmlText(UString& strText);

    CObjArray<CXmlTagU, const CXmlTagU&> m_aryTag;
    CTokenDataStreamU* m_pStream;
    int m_nParseResult;
    unsigned long m_dwParsePos;
    long m_lParam;
};

#endif
