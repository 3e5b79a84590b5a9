// CCgiParam: parsing a query into pairs, the pairs' lookups and edits, the
// rebuilt text, and reading the CGI input of the process.
#include <vorlix/base/objcore.h>
#include <vorlix/base/text.h>
#include <vorlix/web/cgiparam.h>
#include <vorlix/win.h>

#include "../base/length.h"
#include "web_internal.h"
#include "query_sets.h"

namespace win = vorlix::win;

namespace {

// The longest REQUEST_METHOD that is looked at.
const int kMethodChars = 79;

// Appends a pair's text for the rebuilt query.
void AppendKeyValue(MString& out, const MString& key, const MString& value) {
    if (key.GetLength() == 0 || key[0] != '&') {
        out.Append(key, key.GetLength());
        out.Append("=", 1);
    }
    out.Append(value, value.GetLength());
}

}  // namespace

CCgiParam::CCgiParam() : m_chSeparator('&') { Init(); }

CCgiParam::~CCgiParam() { Init(); }

CCgiParam::CCgiParam(const CCgiParam& src) : m_chSeparator('&') { *this = src; }

const CCgiParam& CCgiParam::operator=(const CCgiParam& src) {
    if (this == &src) return *this;
    vorlix::detail::CopyPairs(m_aryKey, m_aryData, src.m_aryKey, src.m_aryData);
    m_strArgBuf = src.m_strArgBuf;
    m_chSeparator = src.m_chSeparator;
    return *this;
}

void CCgiParam::Init() {
    m_aryKey.RemoveAll();
    m_aryData.RemoveAll();
    m_strArgBuf.Empty();
    m_chSeparator = '&';
}

int CCgiParam::GetParamSum() const { return m_aryKey.GetSize(); }

int CCgiParam::FindKey(const char* pszKey) const {
    PrjWarningMsg(pszKey != nullptr);
    if (!pszKey) return -1;
    for (int i = 0; i < m_aryKey.GetSize(); ++i)
        if (win::_stricmp(m_aryKey[i], pszKey) == 0) return i;
    return -1;
}

bool CCgiParam::AppendPair(MString& strKey, MString& strValue) {
    // Moved in: no reference count to share, and the caller's strings
    // are left empty.
    typedef CObjArray<MString, const MString&> ObjArray;
    if (m_aryKey.ObjArray::Add(static_cast<MString&&>(strKey)) < 0) return false;
    if (m_aryData.ObjArray::Add(static_cast<MString&&>(strValue)) < 0) {
        m_aryKey.RemoveAt(m_aryKey.GetSize() - 1);
        return false;
    }
    return true;
}

bool CCgiParam::StorePair(const char* pszKey, int nKey, MString& strValue, int bDecode) {
    while (nKey > 0 && vorlix::detail::IsSpace(pszKey[nKey - 1])) --nKey;
    MString key(pszKey, nKey);
    strValue.TrimRight();
    if (bDecode) {
        ChangePlus(key);
        ChangeHex(key);
        ChangePlus(strValue);
        ChangeHex(strValue);
    }
    return AppendPair(key, strValue);
}

int CCgiParam::SetArgs(const char* pszArgs, int bDecode) {
    namespace d = vorlix::detail;
    m_aryKey.RemoveAll();
    m_aryData.RemoveAll();
    if (pszArgs) {
        m_strArgBuf = pszArgs;
    } else if (!ReadInputBuf()) {
        return 0;
    }
    m_strArgBuf.TrimRight();

    // The items are those of Byte_GetTokenOpt(text, pos, item, "=&*^",
    // index, -1, 3): words, "=" (index 0) and the pair separators "&", "*"
    // and "^" (1 to 3); see query_sets.h.
    enum State { kExpectKey, kAfterKey, kAfterEquals, kPairStored };
    State state = kExpectKey;
    m_chSeparator = '&';
    int nKeyless = 0;
    const char* text = m_strArgBuf;
    const long len = m_strArgBuf.GetLength();
    long pos = 0;
    long keyStart = 0, keyEnd = 0;
    for (;;) {
        long start;
        int index;
        long next = d::NextQueryItem(text, pos, len, d::kQueryPairSet, start, index);
        bool bEnd = next < 0;
        bool bEquals = !bEnd && index == 0;
        bool bPairSep = !bEnd && index > 0;
        switch (state) {
        case kExpectKey:
            if (bEnd) return 1;
            if (index >= 0) return 0;
            keyStart = start;
            keyEnd = next;
            state = kAfterKey;
            break;
        case kAfterKey:
            if (bEquals) {
                state = kAfterEquals;
                break;
            }
            if (!bEnd && !bPairSep) return 0;  // two words in a row
            {
                // A value without a key, stored as it stands.
                MString key, value(text + keyStart, static_cast<int>(keyEnd - keyStart));
                key.Format("&NULL%d", nKeyless);
                if (!AppendPair(key, value)) return 0;
            }
            if (bEnd) return 1;
            ++nKeyless;
            m_chSeparator = text[start];
            state = kExpectKey;
            break;
        case kAfterEquals:
            if (bEquals) return 0;
            if (bEnd || bPairSep) {
                MString empty;
                if (!StorePair(text + keyStart, static_cast<int>(keyEnd - keyStart), empty, bDecode)) return 0;
                if (bEnd) return 1;
                m_chSeparator = text[start];
                state = kExpectKey;
                break;
            }
            {
                MString value(text + start, static_cast<int>(next - start));
                if (text[start] == '"') {
                    // A quoted value runs to the next double quote, whatever
                    // separators lie between.
                    long restStart;
                    int quoteIndex;
                    long after = d::NextQueryItem(text, next, len, d::kQueryQuoteSet, restStart, quoteIndex);
                    if (after >= 0) {
                        if (quoteIndex < 0) {
                            value.Delete(0, 1);
                            value.Append(text + restStart, static_cast<int>(after - restStart));
                            // The closing quote, if there is one.
                            long closing = d::NextQueryItem(text, after, len, d::kQueryQuoteSet, restStart, quoteIndex);
                            if (closing >= 0) after = closing;
                        }
                        next = after;
                    }
                }
                if (!StorePair(text + keyStart, static_cast<int>(keyEnd - keyStart), value, bDecode)) return 0;
            }
            state = kPairStored;
            break;
        case kPairStored:
            if (bEnd) return 1;
            if (!bPairSep) return 0;
            m_chSeparator = text[start];
            state = kExpectKey;
            break;
        }
        pos = next;
    }
}

int CCgiParam::ChangeValue(const char* pszKey, const char* pszValue) {
    int i = FindKey(pszKey);
    if (i < 0) return 0;
    m_aryData[i] = pszValue;
    return 1;
}

int CCgiParam::UpdateValue(const char* pszKey, const char* pszValue) {
    if (ChangeValue(pszKey, pszValue)) return 1;
    if (!pszKey) return 0;
    int n = GetParamSum();
    return AddValue(pszKey, pszValue) > n ? 2 : 0;
}

int CCgiParam::AddValue(const char* pszKey, const char* pszValue) {
    PrjWarningMsg(pszKey != nullptr);
    if (!pszKey) return GetParamSum();
    if (m_aryData.Add(pszValue) >= 0 && m_aryKey.Add(pszKey) < 0) m_aryData.RemoveAt(m_aryData.GetSize() - 1);
    return GetParamSum();
}

int CCgiParam::RemoveKey(const char* pszKey) {
    int i = FindKey(pszKey);
    if (i < 0) return 0;
    m_aryKey.RemoveAt(i);
    m_aryData.RemoveAt(i);
    return 1;
}

int CCgiParam::MoveToLast(const char* pszKey) {
    int i = FindKey(pszKey);
    if (i < 0) return 0;
    if (i == GetParamSum() - 1) return 1;
    // Appended first and removed after, so that running out of memory
    // leaves the pairs as they were.
    MString key = m_aryKey[i], value = m_aryData[i];
    if (!AppendPair(key, value)) return 0;
    m_aryKey.RemoveAt(i);
    m_aryData.RemoveAt(i);
    return 1;
}

const char* CCgiParam::UpdateArgBuf() {
    int n = GetParamSum();
    long long total = n > 0 ? n - 1 : 0;
    for (int i = 0; i < n; ++i) total += m_aryKey[i].GetLength() + 1 + m_aryData[i].GetLength();
    MString text;
    if (total > 0 && total <= vorlix::detail::kMaxLength<char>) text.SetMinBlockSize(static_cast<int>(total));
    for (int i = 0; i < n; ++i) {
        if (i > 0) text.Append(&m_chSeparator, 1);
        AppendKeyValue(text, m_aryKey[i], m_aryData[i]);
    }
    m_strArgBuf.Swap(text);
    return m_strArgBuf;
}

const char* CCgiParam::GetArgBuf() const { return m_strArgBuf; }

MString CCgiParam::GetDataValue(int nIndex) const {
    if (nIndex < 0 || nIndex >= m_aryData.GetSize()) return MString();
    return m_aryData[nIndex];
}

MString CCgiParam::GetKeyValue(int nIndex) const {
    if (nIndex < 0 || nIndex >= m_aryKey.GetSize()) return MString();
    return m_aryKey[nIndex];
}

MString CCgiParam::GetValue(const char* pszKey) const {
    PrjWarningMsg(pszKey != nullptr);
    if (!pszKey) return MString();
    for (int i = 0; i < m_aryKey.GetSize(); ++i)
        if (m_aryKey[i].CompareNoCase(pszKey) == 0) return m_aryData[i];
    return MString();
}

int CCgiParam::ReadInputBuf() {
    const char* pszMethod = win::getenv("REQUEST_METHOD");
    if (!pszMethod) return 0;
    char method[kMethodChars + 1];
    int nMethod = 0;
    while (nMethod < kMethodChars && pszMethod[nMethod]) {
        method[nMethod] = pszMethod[nMethod];
        ++nMethod;
    }
    method[nMethod] = 0;

    if (win::_stricmp(method, "GET") == 0) {
        const char* pszQuery = win::getenv("QUERY_STRING");
        if (!pszQuery) {
            m_strArgBuf.Empty();
            return 0;
        }
        m_strArgBuf = pszQuery;
        return 1;
    }
    m_strArgBuf.Empty();
    if (win::_stricmp(method, "POST") != 0) return 0;

    // An unset, negative or non-numeric length reads nothing.
    long nAnnounced = Byte_AtoL(win::getenv("CONTENT_LENGTH"));
    if (nAnnounced <= 0) return 0;
    int n = vorlix::detail::CheckedLength<char>(nAnnounced);
    if (n < 0) return 0;
    char* p = m_strArgBuf.GetBuffer(n);
    if (!p) return 0;

    // A pipe hands a large body over in pieces: read until all of it came
    // or the input ended. Binary mode keeps CR LF and 0x1A as they are.
    using namespace vorlix::win;  // _O_BINARY: a macro on Windows, a constant here
    int nPrevMode = win::_setmode(0, _O_BINARY);
    int nGot = 0;
    while (nGot < n) {
        int r = win::_read(0, p + nGot, static_cast<unsigned int>(n - nGot));
        if (r <= 0) break;
        nGot += r;
    }
    if (nPrevMode != -1 && nPrevMode != _O_BINARY) win::_setmode(0, nPrevMode);
    p[nGot] = 0;
    m_strArgBuf.ReleaseBuffer(-1);
    // A body shorter than announced keeps no room for the rest.
    if (m_strArgBuf.GetLength() < n / 2) {
        MString exact(m_strArgBuf, m_strArgBuf.GetLength());
        m_strArgBuf.Swap(exact);
    }
    return 1;
}

void CCgiParam::ChangePlus(MString& str) {
    if (str.Find('+') >= 0) str.Replace('+', ' ');
}

void CCgiParam::ChangeHex(MString& str) {
    int n = str.GetLength();
    if (str.Find('%') < 0) return;
    // The decoded text is never longer, so it is written over the input
    // as the scan reads ahead of it.
    char* p = str.GetBuffer(n);
    if (!p) return;
    int out = 0;
    for (int i = 0; i < n;) {
        char c = p[i];
        if (c == '%' && i + 1 < n && p[i + 1] == '%') {
            p[out++] = '%';
            i += 2;
        } else if (c == '%' && i + 2 < n) {
            // Each digit counts as (c & 0xDF) - 0x37 from "A" up and as
            // c - 0x30 below, with c signed: no check, any character gives
            // some value.
            auto digit = [](char ch) {
                int v = static_cast<signed char>(ch);
                return v >= 0x41 ? (v & 0xDF) - 0x37 : v - 0x30;
            };
            p[out++] = static_cast<char>(static_cast<unsigned>(digit(p[i + 1]) * 16 + digit(p[i + 2])) & 0xFF);
            i += 3;
        } else {
            p[out++] = c;
            ++i;
        }
    }
    str.ReleaseBuffer(out);
}
