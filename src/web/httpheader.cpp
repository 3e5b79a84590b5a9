// CHttpHeader: parsing a header block line by line, its fields, writing it
// back, and the charset to code page mapping in both widths.
#include <vorlix/base/file.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/text.h>
#include <vorlix/web/httpheader.h>
#include <vorlix/win.h>

#include "web_internal.h"

#include <cstddef>
#include <cstring>

namespace win = vorlix::win;

namespace {

// Parse states of ProcessLine.
const int kStartLine = 1;
const int kFieldLines = 2;

// Growth step of the field arrays.
const int kFieldGrowBy = 5;

// A start line this short is taken whole as the version.
const int kShortestStartLine = 5;

// The line reader's option: the one it is always given here.
const int kLineOpt = 1;

// ASCII letters folded to lower case, as the string's CompareNoCase does.
unsigned FoldCase(char c) {
    unsigned u = static_cast<unsigned char>(c);
    return u >= 'A' && u <= 'Z' ? u + ('a' - 'A') : u;
}

}  // namespace

CHttpHeader::CHttpHeader() {
    m_aryName.SetSize(0, kFieldGrowBy);
    m_aryValue.SetSize(0, kFieldGrowBy);
    m_cgiParam.Init();
}

CHttpHeader::~CHttpHeader() {}

CHttpHeader::CHttpHeader(const CHttpHeader& src) {
    m_aryName.SetSize(0, kFieldGrowBy);
    m_aryValue.SetSize(0, kFieldGrowBy);
    *this = src;
}

const CHttpHeader& CHttpHeader::operator=(const CHttpHeader& src) {
    if (this == &src) return *this;
    m_strMethod = src.m_strMethod;
    m_strUri = src.m_strUri;
    m_strVersion = src.m_strVersion;
    m_strStatus = src.m_strStatus;
    vorlix::detail::CopyPairs(m_aryName, m_aryValue, src.m_aryName, src.m_aryValue);
    m_cgiParam = src.m_cgiParam;
    return *this;
}

void CHttpHeader::Init() {
    m_strMethod.Empty();
    m_strUri.Empty();
    m_strVersion.Empty();
    m_strStatus.Empty();
    m_aryName.SetSize(0, kFieldGrowBy);
    m_aryValue.SetSize(0, kFieldGrowBy);
    m_cgiParam.Init();
}

void CHttpHeader::Setup(const char* pszText, int nReserved, int bDecode) {
    Init();
    PrjWarningMsg(pszText != nullptr);
    if (!pszText) return;
    unsigned long pos = 0;
    MString line;
    int nState = kStartLine;
    // The empty line that ends the block ends the reading: a body after it
    // is never looked at.
    while (Byte_ReadText1Line(pszText, pos, line, kLineOpt) && !line.IsEmpty())
        nState = ProcessLine(line, nState, nReserved, bDecode);
}

int CHttpHeader::ProcessLine(const char* pszLine, int nState, int, int bDecode) {
    if (nState != kStartLine && nState != kFieldLines) return nState;
    PrjWarningMsg(pszLine != nullptr);
    if (nState == kFieldLines) {
        // "name: value": the name as written, the value without the white
        // space before it.
        if (!pszLine) return kFieldLines;
        const char* colon = std::strchr(pszLine, ':');
        if (colon) {
            const char* value = colon + 1;
            while (vorlix::detail::IsSpace(*value)) ++value;
            UpdateField(pszLine, static_cast<int>(colon - pszLine), value, static_cast<int>(std::strlen(value)));
        }
        return kFieldLines;
    }
    // The start line, used untrimmed.
    MString line(pszLine);
    m_strMethod.Empty();
    m_strUri.Empty();
    m_strVersion = line;
    m_strVersion.TrimLeft();
    if (line.GetLength() <= kShortestStartLine) return kFieldLines;

    if (win::_strnicmp(line, "HTTP/", 5) == 0) {
        // A status line: version, then the status code and reason.
        int blank = line.Find(' ');
        if (blank > 0) {
            m_strVersion = line.Left(blank);
            m_strVersion.TrimLeft();
            m_strStatus = line.Mid(blank + 1);
            m_strStatus.Trim();
        } else {
            m_strStatus.Empty();
        }
        return kFieldLines;
    }

    // A request line: method, target, version.
    int blank = line.Find(' ');
    if (blank < 0) return kFieldLines;
    m_strMethod = line.Left(blank);
    MString rest = line.Mid(blank + 1);
    rest.TrimLeft();
    blank = rest.Find(' ');
    if (blank >= 0) {
        m_strVersion = rest.Mid(blank + 1);
        m_strUri = rest.Left(blank);
    } else {
        m_strVersion = "HTTP/1.0";
        m_strUri = rest;
    }
    m_strUri.TrimLeft();

    int question = m_strUri.Find('?');
    if (question < 0) return kFieldLines;
    if (m_cgiParam.SetArgs(m_strUri.Mid(question + 1), bDecode) || m_cgiParam.GetParamSum() > 0) {
        // Parsed, or cut at a syntax error after some pairs: those stay.
        m_strUri = m_strUri.Left(question);
    } else {
        m_cgiParam.Init();
    }
    return kFieldLines;
}

int CHttpHeader::FindName(const char* pszName, int nName) const {
    for (int i = 0; i < m_aryName.GetSize(); ++i) {
        const MString& name = m_aryName[i];
        if (name.GetLength() != nName) continue;
        const char* p = name;
        int k = 0;
        while (k < nName && FoldCase(p[k]) == FoldCase(pszName[k])) ++k;
        if (k == nName) return i;
    }
    return -1;
}

int CHttpHeader::Find(const char* pszName) {
    PrjWarningMsg(pszName != nullptr);
    if (!pszName) return -1;
    return FindName(pszName, static_cast<int>(std::strlen(pszName)));
}

int CHttpHeader::GetHeaderValue(const char* pszName, MString& strValue) {
    int i = Find(pszName);
    if (i < 0) {
        strValue.Empty();
        return 0;
    }
    strValue = m_aryValue[i];
    return 1;
}

void CHttpHeader::UpdateField(const char* pszName, int nName, const char* pszValue, int nValue) {
    int i = FindName(pszName, nName);
    if (i >= 0) {
        m_aryValue[i].SetString(pszValue, nValue);
        return;
    }
    typedef CObjArray<MString, const MString&> ObjArray;
    if (m_aryName.ObjArray::Add(MString(pszName, nName)) >= 0 &&
        m_aryValue.ObjArray::Add(MString(pszValue, nValue)) < 0)
        m_aryName.RemoveAt(m_aryName.GetSize() - 1);
}

void CHttpHeader::UpdateHeaderValue(const char* pszName, const char* pszValue) {
    PrjWarningMsg(pszName != nullptr);
    if (!pszName) return;
    UpdateField(pszName, static_cast<int>(std::strlen(pszName)), pszValue,
                pszValue ? static_cast<int>(std::strlen(pszValue)) : 0);
}

void CHttpHeader::ToHeaderString(MString& strHeader, int bRequest) {
    MString out;
    if (bRequest) {
        out += m_strMethod;
        out.Append(" ", 1);
        out += m_strUri;
        if (m_cgiParam.GetParamSum() > 0) {
            m_cgiParam.UpdateArgBuf();
            out.Append("?", 1);
            // By length: a decoded %00 leaves a 0 byte in the query.
            out.Append(m_cgiParam.m_strArgBuf, m_cgiParam.m_strArgBuf.GetLength());
        }
        out.Append(" ", 1);
        out += m_strVersion;
    } else {
        out += m_strVersion;
        out.Append(" ", 1);
        out += m_strStatus;
    }
    out.Append("\r\n", 2);
    for (int i = 0; i < m_aryName.GetSize(); ++i) {
        out += m_aryName[i];
        out.Append(": ", 2);
        out += m_aryValue[i];
        out.Append("\r\n", 2);
    }
    out.Append("\r\n", 2);
    strHeader.Swap(out);
}

int CHttpHeader::GetCodePage() {
    int i = Find("Content-Type");
    if (i < 0) return 0;
    MString value = m_aryValue[i];
    value.MakeLower();
    MStringArray tokens;
    int n = Byte_GetSplitToken(value, 0, "/;=", tokens);
    for (int k = 0; k + 1 < n; ++k)
        if (tokens[k].CompareNoCase("charset") == 0) return Byte_CharSetToCodePage(tokens[k + 1], 0);
    return 0;
}

namespace vorlix {
namespace detail {
namespace {

struct CharSetEntry {
    const char* name;
    int nCodePage;
};

const CharSetEntry kCharSets[] = {
    {"utf-8", 65001},     {"euc-kr", 949},    {"ks_c_5601-1987", 949},
    {"iso-2022-kr", 949}, {"shift_jis", 932}, {"iso-2022-jp", 50220},
    {"euc-jp", 51932},    {"gbk", 936},       {"big5", 950},
};

// The longest name in the table, with room for its NUL.
const int kLongestCharSet = 16;

// Compares ignoring case with the runtime library of each width.
int CompareCharSet(const char* a, const char* b) { return win::_stricmp(a, b); }
int CompareCharSet(const unsigned short* a, const unsigned short* b) {
    return win::_wcsicmp(reinterpret_cast<const win::WCHAR*>(a), reinterpret_cast<const win::WCHAR*>(b));
}

template <class Ch>
int CharSetToCodePage(const Ch* pszCharSet, int nDefault) {
    PrjWarningMsg(pszCharSet != nullptr);
    if (!pszCharSet) return nDefault;
    for (const CharSetEntry& e : kCharSets) {
        // The table's name in this width.
        Ch name[kLongestCharSet];
        int k = 0;
        for (; e.name[k]; ++k) name[k] = static_cast<Ch>(static_cast<unsigned char>(e.name[k]));
        name[k] = 0;
        if (CompareCharSet(pszCharSet, name) == 0) return e.nCodePage;
    }
    return nDefault;
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

int Byte_CharSetToCodePage(const char* pszCharSet, int nDefault) {
    return vorlix::detail::CharSetToCodePage(pszCharSet, nDefault);
}

int Uni_CharSetToCodePage(const unsigned short* pszCharSet, int nDefault) {
    return vorlix::detail::CharSetToCodePage(pszCharSet, nDefault);
}
