// URL splitting, base URLs, the standard form of a URL, dotted addresses
// and the byte sum, written once for both widths.
#include <vorlix/base/objcore.h>
#include <vorlix/base/text.h>
#include <vorlix/web/cgiparam.h>
#include <vorlix/web/url.h>
#include <vorlix/win.h>

#include "../base/literal.h"

#include <cstddef>

namespace win = vorlix::win;

namespace vorlix {
namespace detail {
namespace {

template <class Ch>
struct UrlLits {
    static constexpr auto kHostSeps = MakeLit<Ch>(":/?");
    static constexpr auto kPathSeps = MakeLit<Ch>("/?");
    static constexpr auto kQuery = MakeLit<Ch>("?");
    static constexpr auto kSlash = MakeLit<Ch>("/");
    static constexpr auto kSchemeEnd = MakeLit<Ch>("://");
    static constexpr auto kFile = MakeLit<Ch>("file");
    static constexpr auto kHttp = MakeLit<Ch>("http://");
};

// Tokenizer options: blanks and tabs before an item are skipped.
const int kTokenOpts = 3;

// The code page the 16-bit StandardUrl rebuilds its query in.
const unsigned kQueryCodePage = 949;

// The tokenizer and the runtime library of each width.
long Token(const char* text, long pos, MString& tok, const char* seps, int& index) {
    return Byte_GetTokenOpt(text, pos, tok, seps, index, -1, kTokenOpts);
}
long Token(const unsigned short* text, long pos, UString& tok, const unsigned short* seps, int& index) {
    return Uni_GetTokenOpt(text, pos, tok, seps, index, -1, kTokenOpts);
}
int ToInt(const char* s) { return win::atoi(s); }
int ToInt(const unsigned short* s) { return win::_wtoi(reinterpret_cast<const win::WCHAR*>(s)); }
int CompareNoCase(const char* a, const char* b) { return win::_stricmp(a, b); }
int CompareNoCase(const unsigned short* a, const unsigned short* b) {
    return win::_wcsicmp(reinterpret_cast<const win::WCHAR*>(a), reinterpret_cast<const win::WCHAR*>(b));
}
int CompareNoCase(const char* a, const char* b, std::size_t n) { return win::_strnicmp(a, b, n); }
int CompareNoCase(const unsigned short* a, const unsigned short* b, std::size_t n) {
    return win::_wcsnicmp(reinterpret_cast<const win::WCHAR*>(a), reinterpret_cast<const win::WCHAR*>(b), n);
}

// Separator indices in the sets above.
const int kColon = 0;           // in ":/?"
const int kSlashInHost = 1;     // in ":/?"
const int kQuestionInHost = 2;  // in ":/?"
const int kSlashInPath = 0;     // in "/?"

// After a "/" of the path (pos is right after it): all text up to the
// next "?" is appended to the path, the rest after the "?" is the query.
template <class Ch>
void PathAfterSlash(const Ch* url, long pos, BasicString<Ch>& path, BasicString<Ch>& query) {
    typedef UrlLits<Ch> L;
    BasicString<Ch> tok;
    int index;
    long next = Token(url, pos, tok, L::kQuery, index);
    if (next < 0) {
        path += L::kSlash;
        return;
    }
    if (index >= 0) {
        if (path.IsEmpty()) path = L::kSlash;
        query = url + next;
        return;
    }
    path += L::kSlash;
    path += tok;
    next = Token(url, next, tok, L::kPathSeps, index);
    if (next >= 0 && index >= 0 && index != kSlashInPath) query = url + next;
}

// The path from pos on: "/" and what follows it, "?" and the query, or a
// relative path that begins with a word.
template <class Ch>
void PathFrom(const Ch* url, long pos, BasicString<Ch>& path, BasicString<Ch>& query) {
    typedef UrlLits<Ch> L;
    BasicString<Ch> tok;
    int index;
    long next = Token(url, pos, tok, L::kPathSeps, index);
    if (next < 0) return;
    if (index == kSlashInPath) {
        path.Empty();
        PathAfterSlash(url, next, path, query);
        return;
    }
    if (index >= 0) {  // "?": the path stays "/"
        query = url + next;
        return;
    }
    path.Swap(tok);
    next = Token(url, next, tok, L::kPathSeps, index);
    if (next < 0) return;
    if (index == kSlashInPath) PathAfterSlash(url, next, path, query);
    else query = url + next;
}

template <class Ch>
void ParsorUrl(const Ch* url, BasicString<Ch>& scheme, BasicString<Ch>& host, BasicString<Ch>& path,
               BasicString<Ch>& query, unsigned short& nPort) {
    typedef UrlLits<Ch> L;
    nPort = 0;
    scheme.Empty();
    host.Empty();
    query.Empty();
    path = L::kSlash;
    PrjWarningMsg(url != nullptr);
    if (!url) return;

    BasicString<Ch> tok;
    int index;

    // A scheme, an absolute path or a relative one.
    long next = Token(url, 0, tok, L::kHostSeps, index);
    if (next < 0) return;
    if (index == kSlashInHost) {
        path.Empty();
        PathAfterSlash(url, next, path, query);
        return;
    }
    if (index >= 0) return;  // ":" or "?" first: nothing to take
    BasicString<Ch> word;
    word.Swap(tok);
    next = Token(url, next, tok, L::kHostSeps, index);
    if (next < 0 || index != kColon) {
        // No scheme: the whole URL is a path.
        PathFrom(url, 0, path, query);
        return;
    }
    scheme.Swap(word);

    // "//" after the scheme, or nothing more is taken.
    long pos = next;
    for (int k = 0; k < 2; ++k) {
        next = Token(url, pos, tok, L::kPathSeps, index);
        if (next < 0 || index != kSlashInPath) return;
        pos = next;
    }
    if (CompareNoCase(static_cast<const Ch*>(scheme), static_cast<const Ch*>(L::kFile)) == 0 && url[pos] &&
        url[pos + 1] == ':') {
        // A drive: everything after its ":" is the path, as written.
        host = BasicString<Ch>(url + pos, 2);
        path = url + pos + 2;
        return;
    }

    // The host, lowered. A "/" or "?" right after "//" leaves it empty and
    // starts the path; any other token, a ":" included, is the host.
    next = Token(url, pos, tok, L::kHostSeps, index);
    if (next < 0) return;
    if (index == kSlashInHost || index == kQuestionInHost) {
        PathFrom(url, pos, path, query);
        return;
    }
    host.Swap(tok);
    host.MakeLower();
    pos = next;
    next = Token(url, pos, tok, L::kHostSeps, index);
    if (next < 0) return;
    if (index == kColon) {
        // The token after the ":" is the port text, whatever it is (a "/"
        // there reads as 0), and the path starts after it.
        long portEnd = Token(url, next, tok, L::kHostSeps, index);
        if (portEnd < 0) return;
        // atoi's value, cut to 16 bits.
        nPort = static_cast<unsigned short>(static_cast<unsigned>(ToInt(static_cast<const Ch*>(tok))) & 0xFFFF);
        pos = portEnd;
    }
    // Otherwise pos is right after the host, and the token after it starts
    // the path.
    PathFrom(url, pos, path, query);
}

template <class Ch>
void GetBaseUrl(BasicString<Ch>& url) {
    typedef UrlLits<Ch> L;
    BasicString<Ch> scheme, host, path, query;
    unsigned short nPort;
    ParsorUrl(static_cast<const Ch*>(url), scheme, host, path, query, nPort);
    BasicString<Ch> base = scheme;
    base += L::kSchemeEnd;
    base += host;
    int slash = path.ReverseFind('/');
    if (slash > 0) base.Append(path, slash);
    url.Swap(base);
}

// The query rebuilt by CCgiParam, in 8-bit text.
MString StandardQuery(const char* query) {
    CCgiParam params;
    params.SetArgs(query, 0);
    params.UpdateArgBuf();
    return params.m_strArgBuf;
}

BasicString<char> StandardQuery(const BasicString<char>& query) {
    return StandardQuery(static_cast<const char*>(query));
}

BasicString<unsigned short> StandardQuery(const BasicString<unsigned short>& query) {
    MString narrow;
    narrow.FromUnicode(kQueryCodePage, query, query.GetLength());
    MString rebuilt = StandardQuery(static_cast<const char*>(narrow));
    UString wide;
    wide.FromMBC(kQueryCodePage, rebuilt, rebuilt.GetLength());
    return wide;
}

template <class Ch>
void StandardUrl(BasicString<Ch>& url, int bLowerHostOnly) {
    typedef UrlLits<Ch> L;
    const int kPrefix = 7;  // "http://"
    if (CompareNoCase(static_cast<const Ch*>(url), static_cast<const Ch*>(L::kHttp), kPrefix) != 0) return;

    BasicString<Ch> query;
    int question = url.Find(static_cast<Ch>('?'), kPrefix);
    BasicString<Ch> out = question >= 0 ? url.Left(question) : url;
    if (question >= 0) query = StandardQuery(url.Mid(question + 1));

    int slash = bLowerHostOnly ? out.Find(static_cast<Ch>('/'), kPrefix) : -1;
    if (slash >= 0) {
        BasicString<Ch> head = out.Left(slash);
        head.MakeLower();
        head.Append(static_cast<const Ch*>(out) + slash, out.GetLength() - slash);
        out.Swap(head);
    } else {
        out.MakeLower();
    }
    if (!query.IsEmpty()) {
        out += static_cast<Ch>('?');
        out.Append(query, query.GetLength());
    }
    out.TrimRight(static_cast<Ch>('/'));
    url.Swap(out);
}

template <class Ch>
int IPStrToIPByte(const Ch* ip, unsigned char* out) {
    PrjWarningMsg(out != nullptr);
    PrjWarningMsg(ip != nullptr);
    if (!out) return 1;
    for (int i = 0; i < 4; ++i) out[i] = 0;
    if (!ip) return 1;
    const Ch* part = ip;
    for (int i = 0; i < 4 && *part; ++i) {
        // atoi stops at the ".", so the part need not be cut out.
        out[i] = static_cast<unsigned char>(static_cast<unsigned>(ToInt(part)) & 0xFF);
        while (*part && *part != '.') ++part;
        if (!*part) break;
        ++part;
    }
    return 1;
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

namespace d = vorlix::detail;

void Byte_ParsorUrl(const char* pszUrl, MString& strScheme, MString& strHost, MString& strPath, MString& strQuery,
                    unsigned short& nPort) {
    d::ParsorUrl(pszUrl, strScheme, strHost, strPath, strQuery, nPort);
}
void Uni_ParsorUrl(const unsigned short* pszUrl, UString& strScheme, UString& strHost, UString& strPath,
                   UString& strQuery, unsigned short& nPort) {
    d::ParsorUrl(pszUrl, strScheme, strHost, strPath, strQuery, nPort);
}

void Byte_GetBaseUrl(MString& strUrl) { d::GetBaseUrl(strUrl); }
void Uni_GetBaseUrl(UString& strUrl) { d::GetBaseUrl(strUrl); }

void Byte_StandardUrl(MString& strUrl, int bLowerHostOnly) { d::StandardUrl(strUrl, bLowerHostOnly); }
void Uni_StandardUrl(UString& strUrl, int bLowerHostOnly) { d::StandardUrl(strUrl, bLowerHostOnly); }

int Byte_IPStrToIPByte(const char* pszIP, unsigned char* pbyIP) { return d::IPStrToIPByte(pszIP, pbyIP); }
int Uni_IPStrToIPByte(const unsigned short* pszIP, unsigned char* pbyIP) { return d::IPStrToIPByte(pszIP, pbyIP); }

unsigned long API_StringToDWord(const unsigned char* pData, int nLen) {
    if (nLen <= 0) return 0;
    PrjWarningMsg(pData != nullptr);
    if (!pData) return 0;
    unsigned long sum = 0;
    for (int i = 0; i < nLen; i += 4) {
        unsigned long word = 0;
        for (int k = 0; k < 4 && i + k < nLen; ++k) word |= static_cast<unsigned long>(pData[i + k]) << (8 * k);
        sum = (sum + word) & 0xFFFFFFFFul;
    }
    return sum;
}
