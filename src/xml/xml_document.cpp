// The document's entry points: the byte-order marks of 16-bit text and
// files, the stream a parse creates and deletes, and the names of the parse
// results.
#include <vorlix/base/file.h>
#include <vorlix/base/text.h>

#include "xml_internal.h"

#include <new>

namespace vorlix {

namespace {

struct ResultInfo {
    const char* name;
    const char* text;
};

const ResultInfo kResults[] = {
    {"XMLRES_BEGIN_ABORT", "OnBeginXmlTag returned non-zero"},
    {"XMLRES_END_ABORT", "OnEndXmlTag returned non-zero"},
    {"XMLRES_END_OF_DATA", "the end of the data: the whole text was parsed"},
    {"XMLRES_TEXT_OUTSIDE", "character data where no element is open"},
    {"XMLRES_BAD_TEXT", "\">\" where a node should begin, or text that no \"<\" follows"},
    {"XMLRES_NO_CLOSE", "a closing \">\" is missing"},
    {"XMLRES_UNEXPECTED_END", "the data ended inside a node, or \"<\" followed by \"<\""},
    {"XMLRES_BAD_PI", "a processing instruction other than xml"},
    {"XMLRES_BAD_CDATA", "a broken or unterminated CDATA section"},
    {"XMLRES_BAD_COMMENT", "a comment without \"-->\""},
    {"XMLRES_TAG_MISMATCH", "an end tag that does not match the open element"},
    {"XMLRES_BAD_END_TAG", "\"</\" not followed by a name"},
    {"XMLRES_SYNTAX", "an unexpected token, or a limit passed (depth, length)"},
};

const ResultInfo* Result(int nResult) {
    const int n = static_cast<int>(sizeof(kResults) / sizeof(kResults[0]));
    return nResult >= 1 && nResult <= n ? &kResults[nResult - 1] : nullptr;
}

}  // namespace

const char* XmlResultName(int nResult) {
    const ResultInfo* r = Result(nResult);
    return r ? r->name : "unknown";
}

const char* XmlResultText(int nResult) {
    const ResultInfo* r = Result(nResult);
    return r ? r->text : "not a parse result";
}

namespace detail {
namespace {

// The documents whose parse runs on this thread, innermost first. A
// callback runs on the parse's thread, so a FromString that finds its
// document here was called from one of that parse's callbacks.
struct RunningParse {
    const void* pDoc;
    RunningParse* pOuter;
};
thread_local RunningParse* t_pRunning = nullptr;

bool IsRunning(const void* pDoc) {
    for (const RunningParse* p = t_pRunning; p; p = p->pOuter)
        if (p->pDoc == pDoc) return true;
    return false;
}

// Runs one parse with the document's stream, created on the heap for it
// and deleted afterwards (the parse keeps its own pointer, in case a
// callback empties m_pStream). A parse of a document whose parse is
// running is refused and changes nothing.
template <class Ch, class Parse>
int WithStream(BasicAnalXml<Ch>& doc, typename XmlClasses<Ch>::Stream* s, Parse parse) {
    if (!s) return 0;
    RunningParse self = {&doc, t_pRunning};
    t_pRunning = &self;
    doc.m_pStream = s;
    int r = parse();
    delete s;
    doc.m_pStream = nullptr;
    t_pRunning = self.pOuter;
    return r;
}

}  // namespace
}  // namespace detail

template <class Ch>
int BasicAnalXml<Ch>::FromString(const Ch* pszXml, int bStoreTag) {
    if (detail::IsRunning(this)) return 0;
    // 16-bit text: the first two bytes as stored, FF FE little-endian and
    // FE FF big-endian with the mark skipped; otherwise the platform's order.
    unsigned long dwStart = 0;
    int nEndian = API_IsLittleEndian() ? 1 : 2;
    if (sizeof(Ch) == 2 && pszXml) {
        const unsigned char* b = reinterpret_cast<const unsigned char*>(pszXml);
        if (b[0] == 0xFF && b[1] == 0xFE) {
            dwStart = 1;
            nEndian = 1;
        } else if (b[0] == 0xFE && b[1] == 0xFF) {
            dwStart = 1;
            nEndian = 2;
        }
    }
    Stream* s = new (std::nothrow) Stream(pszXml, dwStart);
    if constexpr (sizeof(Ch) == 2) {
        if (s) s->SetEndian(nEndian);
    }
    return detail::WithStream(*this, s, [&] { return detail::ParseText(*this, pszXml, dwStart, nEndian, bStoreTag); });
}

template <class Ch>
int BasicAnalXml<Ch>::FromString(void* hFile, int bStoreTag) {
    if (detail::IsRunning(this)) return 0;
    unsigned long dwStart = 0;
    int nEndian = 0;
    if constexpr (sizeof(Ch) == 2) {
        long lStart = API_SeekFile(hFile, 0, 1);
        unsigned char b[3] = {0, 0, 0};
        API_ReadFile(hFile, b, 2);
        if (b[0] == 0xFF && b[1] == 0xFE) {
            nEndian = 1;
        } else if (b[0] == 0xFE && b[1] == 0xFF) {
            nEndian = 2;
        } else {
            // No mark: read from the start. A zero among the first two bytes
            // shows UTF-16 and its byte order; anything else is UTF-8, whose
            // own mark EF BB BF is skipped.
            API_SeekFile(hFile, lStart, 0);
            if (b[0] == 0 && b[1] != 0) {
                nEndian = 2;
            } else if (b[0] == 0 || b[1] == 0) {
                nEndian = 1;
            } else {
                nEndian = 3;
                API_ReadFile(hFile, b, 3);
                if (!(b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)) API_SeekFile(hFile, lStart, 0);
            }
            long lAt = API_SeekFile(hFile, 0, 1);
            dwStart = lAt > 0 ? static_cast<unsigned long>(lAt) : 0;
        }
    }
    Stream* s = new (std::nothrow) Stream(hFile, dwStart);
    if constexpr (sizeof(Ch) == 2) {
        if (s) s->SetEndian(nEndian);
    }
    return detail::WithStream(*this, s, [&] { return detail::ParseFile(*this, hFile, dwStart, nEndian, bStoreTag); });
}

template int BasicAnalXml<char>::FromString(const char*, int);
template int BasicAnalXml<unsigned short>::FromString(const unsigned short*, int);
template int BasicAnalXml<char>::FromString(void*, int);
template int BasicAnalXml<unsigned short>::FromString(void*, int);

}  // namespace vorlix
