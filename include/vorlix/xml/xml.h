// The XML tree, its parser and its writer, in an 8-bit form (CTagOptionA,
// CXmlTagA, CAnalXmlA over MString) and a 16-bit form (CTagOptionU,
// CXmlTagU, CAnalXmlU over UString). Both forms are one template each
// (vorlix::BasicTagOption, BasicXmlTag, BasicAnalXml); the real classes
// derive from them, and the documents add the callbacks named by width.
//
// A document (CAnalXml) holds its top-level nodes; a node (CXmlTag) holds its
// attributes (CTagOption) and children by value, so copying a node copies its
// subtree. The writer prints one node per line with CR LF line ends and tab
// indentation by each node's m_nLevel.
//
// The parser reads a document (CAnalXml::FromString) from text in memory or
// from a file with a reader of its own, one line at a time; a node or an
// attribute (CXmlTag::FromString, CTagOption::FromString) reads from a token
// data stream the caller owns, through the stream's own operations. Both
// build the same tree. The document calls OnBeginXmlTag / OnEndXmlTag as
// elements open and nodes complete; with bStoreTag 0 and an OnEndXmlTag that
// sets m_bNoChild on what it has processed, a document of any size is parsed
// in constant memory.
//
// Limits: nesting deeper than 1000 levels (counted from where the parse
// began) fails with XMLRES_SYNTAX, and so does a document with a line, or a
// run of text, longer than a string can hold (about 2^31 bytes).
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

// Parse results (m_nParseResult). vorlix::XmlResultName and XmlResultText
// give each one's name and a one-line description.
#define XMLRES_BEGIN_ABORT 1     // OnBeginXmlTag returned non-zero
#define XMLRES_END_ABORT 2       // OnEndXmlTag returned non-zero
#define XMLRES_END_OF_DATA 3     // the normal end of a document
#define XMLRES_TEXT_OUTSIDE 4    // character data where no element is open
#define XMLRES_BAD_TEXT 5        // ">" where a node should begin, or text without a following "<"
#define XMLRES_NO_CLOSE 6        // a closing ">" is missing
#define XMLRES_UNEXPECTED_END 7  // the data ended inside a node, or "<" followed by "<"
#define XMLRES_BAD_PI 8          // a processing instruction other than xml
#define XMLRES_BAD_CDATA 9       // a broken or unterminated CDATA section
#define XMLRES_BAD_COMMENT 10    // a comment without "-->"
#define XMLRES_TAG_MISMATCH 11   // an end tag for another element
#define XMLRES_BAD_END_TAG 12    // "</" not followed by a name
#define XMLRES_SYNTAX 13         // any other unexpected token, or a limit passed (see above)

class CTagOptionA;
class CTagOptionU;
class CXmlTagA;
class CXmlTagU;
class CAnalXmlA;
class CAnalXmlU;

namespace vorlix {

// The name of a parse result ("XMLRES_TAG_MISMATCH") and a one-line
// description of it; "unknown" and "not a parse result" for other values.
VORLIX_API const char* XmlResultName(int nResult);
VORLIX_API const char* XmlResultText(int nResult);

// The classes of one width.
template <class Ch>
struct XmlClasses;
template <>
struct XmlClasses<char> {
    typedef CTagOptionA Option;
    typedef CXmlTagA Tag;
    typedef CAnalXmlA Doc;
    typedef CTokenDataStreamA Stream;
};
template <>
struct XmlClasses<unsigned short> {
    typedef CTagOptionU Option;
    typedef CXmlTagU Tag;
    typedef CAnalXmlU Doc;
    typedef CTokenDataStreamU Stream;
};

// One attribute: its name as written and its value with the entities
// decoded.
template <class Ch>
class VORLIX_API BasicTagOption : public CObjCore {
public:
    // Kept in object arrays, which move their elements as raw bytes.
    typedef void RelocatesAsBytes;
    typedef typename XmlClasses<Ch>::Stream Stream;

    BasicTagOption();
    BasicTagOption(const BasicTagOption& src);
    ~BasicTagOption();
    // Empties the name and the value.
    void Init();
    const BasicTagOption& operator=(const BasicTagOption& src);
    // Reads one attribute from the stream: 1 with a name, 1 with an empty
    // name at the end of the attribute list (the closing character left
    // unread), 0 when malformed (what was read stays read).
    int FromString(Stream* pStream);
    // name="value" with the value encoded; 0 (and empty) without a name.
    int ToString(BasicString<Ch>& strOut) const;

    BasicString<Ch> m_strName;
    BasicString<Ch> m_strValue;
};

}  // namespace vorlix

class VORLIX_API CTagOptionA : public vorlix::BasicTagOption<char> {};
class VORLIX_API CTagOptionU : public vorlix::BasicTagOption<unsigned short> {};

namespace vorlix {

// One node with its attributes and its children, held by value.
template <class Ch>
class VORLIX_API BasicXmlTag : public CObjCore {
public:
    // Kept in object arrays, which move their elements as raw bytes.
    typedef void RelocatesAsBytes;
    typedef typename XmlClasses<Ch>::Option Option;
    typedef typename XmlClasses<Ch>::Tag Tag;
    typedef typename XmlClasses<Ch>::Doc Doc;
    typedef typename XmlClasses<Ch>::Stream Stream;

    // An empty node (Init).
    BasicXmlTag();
    // A deep copy of the whole subtree.
    BasicXmlTag(const BasicXmlTag& src);
    virtual ~BasicXmlTag();
    // Name emptied; kind, depth, result, position and m_bNoChild 0;
    // m_nUserFlag 1; attributes and children removed, their storage freed.
    void Init();
    // A deep copy of the whole subtree. A node of the receiver's own
    // subtree, or one that holds the receiver, is copied aside first.
    BasicXmlTag& operator=(const BasicXmlTag& src);
    // Takes over the source's subtree. Moving a node of the receiver's own
    // subtree into it, or a node into one of its own descendants, works as
    // a copy would (the source is left as it was).
    BasicXmlTag& operator=(BasicXmlTag&& src) noexcept;

    // Children. A node whose m_bNoChild is set is refused (0); a node of
    // the receiver's own subtree is copied before the children change.
    // Appends a copy: the new child's index, or 0.
    int AddXmlTag(const Tag& tag);
    // A negative index inserts in front (1), an index at or past the count
    // appends (AddXmlTag's result), others insert there (1).
    int InsertXmlTag(int nIndex, const Tag& tag);
    // A negative index inserts in front (1), an index at or past the count
    // appends (AddXmlTag's result), others replace that child (1).
    int UpdateXmlTag(int nIndex, const Tag& tag);
    // 1, or 0 for an index outside the children.
    int DeleteXmlTag(int nIndex);
    // Copies child nIndex into tag: 1, or 0 (tag untouched) for an index
    // outside the children.
    int GetXmlTag(int nIndex, Tag& tag) const;
    // The first child element named pszName (ignoring case) at or after
    // nStart, or -1; nStart is left at the index found, or at the child
    // count.
    int FindXmlTag(const Ch* pszName, int& nStart) const;
    // FindXmlTag, then a copy of the child found (1), or tag.Init() and 0.
    int ReadXmlTag(const Ch* pszName, Tag& tag, int& nStart) const;

    // Attributes, by name ignoring case; the first of equal names counts.
    // The value (1), or an empty string and 0.
    int ReadOption(const Ch* pszName, BasicString<Ch>& strValue) const;
    // Replaces the value (the stored name stays) or appends the attribute;
    // its index.
    int UpdateOption(const Ch* pszName, const Ch* pszValue);
    // 1, or 0 when there is no such attribute.
    int DeleteOption(const Ch* pszName);

    // Parses one node with its subtree from the stream at depth nLevel;
    // pAnalXml receives the callbacks and may be null. 1, or 0 with
    // m_nParseResult and m_dwParsePos set.
    int FromString(Doc* pAnalXml, Stream* pStream, int nLevel);
    // Writes the node and nDepth levels of descendants (negative: nothing):
    // 1, or 0 when the text would be longer than a string can hold (what
    // fitted stays in strOut).
    int ToString(BasicString<Ch>& strOut, int nDepth) const;
    // The same into a file at its position, a start tag, each child and an
    // end tag at a time (0 when one of them cannot be held; the file keeps
    // what was written); 16-bit text goes as UTF-16 little-endian code units.
    int ToString(void* hFile, int nDepth) const;

    int m_nParseResult;
    unsigned long m_dwParsePos;
    int m_nLevel;
    BasicString<Ch> m_strName;
    int m_nTagType;
    int m_nUserFlag;
    int m_bNoChild;
    CObjArray<Option, const Option&> m_aryOption;
    CObjArray<Tag, const Tag&> m_arySubTag;

protected:
    // The first attribute named pszName (ignoring case), or -1.
    int FindOption(const Ch* pszName) const;
};

}  // namespace vorlix

class VORLIX_API CXmlTagA : public vorlix::BasicXmlTag<char> {};
class VORLIX_API CXmlTagU : public vorlix::BasicXmlTag<unsigned short> {};

namespace vorlix {

// A document: its top-level nodes and the outcome of the last parse. The
// callbacks are the real classes' (CAnalXmlA/U); a parse always makes
// them, and the defaults return 0.
template <class Ch>
class VORLIX_API BasicAnalXml {
public:
    typedef typename XmlClasses<Ch>::Tag Tag;
    typedef typename XmlClasses<Ch>::Stream Stream;

    BasicAnalXml();
    // A copy duplicates the top-level nodes; it never shares a tokenizer.
    BasicAnalXml(const BasicAnalXml& src);
    BasicAnalXml& operator=(const BasicAnalXml& src);
    ~BasicAnalXml();

    // Removes the top-level nodes and clears the result, the position and
    // m_lParam. Called from a callback, it leaves the running parse its
    // own stream (m_pStream reads null from then on) and the parse goes on
    // to its end, keeping the nodes that complete after it.
    void Init();
    CObjArray<Tag, const Tag&>& GetTagArray();
    int GetTagCount() const;
    // nIndex must lie within the top-level nodes (reported otherwise).
    Tag& GetTag(int nIndex);
    // Child elements of tag named pszName, ignoring case.
    static int GetTagCount(const Tag& tag, const Ch* pszName);

    // Parses NUL-terminated text, appending the top-level nodes when
    // bStoreTag is set: 1 when the whole text was parsed (result
    // XMLRES_END_OF_DATA). The 16-bit form looks at the first two bytes as
    // stored: FF FE little-endian, FE FF big-endian (the mark skipped),
    // otherwise the platform's byte order. While a parse of this document
    // runs (a callback calls this), FromString returns 0 and changes
    // nothing.
    int FromString(const Ch* pszXml, int bStoreTag);
    // The same from a file, from its position on. The 16-bit form: FF FE
    // little-endian, FE FF big-endian; a file without either mark is read
    // from its start, as UTF-16 in the byte order that a zero among its
    // first two bytes shows (00 xx big-endian, xx 00 little-endian), and
    // otherwise as UTF-8, skipping an EF BB BF mark.
    int FromString(void* hFile, int bStoreTag);
    // Writes every top-level node with nDepth levels (negative: nothing):
    // 1, or 0 when the text would be longer than a string can hold.
    int ToString(BasicString<Ch>& strOut, int nDepth) const;
    // The same into a file at its position; the 16-bit form writes the
    // bytes FF FE first and the text as UTF-16 little-endian.
    int ToString(void* hFile, int nDepth) const;

    // The five predefined entities, in place. A text whose encoded form is
    // longer than a string can hold is left as it was.
    static void EncodeXmlText(BasicString<Ch>& strText);
    static void DecodeXmlText(BasicString<Ch>& strText);

    CObjArray<Tag, const Tag&> m_aryTag;
    // The stream of the running parse; null otherwise. Before each callback
    // its position (m_curPos) is brought up to where the parse stands; a
    // callback must not read from it.
    Stream* m_pStream;
    int m_nParseResult;
    unsigned long m_dwParsePos;
    long m_lParam;
};

}  // namespace vorlix

class VORLIX_API CAnalXmlA : public vorlix::BasicAnalXml<char> {
public:
    // Called when an element's start tag is complete (the node has its
    // name and attributes) and when any node is complete (with its
    // children); non-zero stops the parse. The defaults return 0.
    virtual int OnBeginXmlTagA(CXmlTagA& tag, int nLevel, long lParam);
    virtual int OnEndXmlTagA(CXmlTagA& tag, int nLevel, long lParam);
};

class VORLIX_API CAnalXmlU : public vorlix::BasicAnalXml<unsigned short> {
public:
    virtual int OnBeginXmlTagU(CXmlTagU& tag, int nLevel, long lParam);
    virtual int OnEndXmlTagU(CXmlTagU& tag, int nLevel, long lParam);
};

#endif
