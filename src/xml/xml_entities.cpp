// The five predefined entities: encoding for the writer and
// EncodeXmlText, decoding for the parser and DecodeXmlText.
#include "../base/length.h"
#include "xml_internal.h"
#include "xml_text.h"

#include <cstring>

namespace vorlix {
namespace detail {
namespace {

// The characters the writer encodes, and how many characters each one's
// entity adds.
template <class Ch>
inline int EncodedExtra(Ch c) {
    switch (c) {
    case '&': return 4;   // &amp;
    case '<': return 3;   // &lt;
    case '>': return 3;   // &gt;
    case '\'': return 5;  // &apos;
    case '"': return 5;   // &quot;
    default: return 0;
    }
}

template <class Ch>
inline Ch* PutEntity(Ch* q, const char* name) {
    *q++ = '&';
    while (*name) *q++ = static_cast<Ch>(*name++);
    *q++ = ';';
    return q;
}

// The length of the entity after an "&" (its ";" included) with the
// character it stands for; 0 when none starts there.
template <class Ch>
int EntityAt(const Ch* p, int n, Ch& c) {
    // By the first letter: only "a" begins two names.
    const char* name;
    char ch;
    switch (n > 0 ? p[0] : Ch(0)) {
    case 'l': name = "lt;", ch = '<'; break;
    case 'g': name = "gt;", ch = '>'; break;
    case 'a':
        if (n > 1 && p[1] == 'm') name = "amp;", ch = '&';
        else name = "apos;", ch = '\'';
        break;
    case 'q': name = "quot;", ch = '"'; break;
    default: return 0;
    }
    int i = 1;
    for (; name[i]; ++i)
        if (i >= n || p[i] != Ch(static_cast<unsigned char>(name[i]))) return 0;
    c = Ch(ch);
    return i;
}

}  // namespace

template <class Ch>
long long EncodedLength(const Ch* p, int n) {
    long long nLength = n;
    for (int i = 0; i < n; ++i) nLength += EncodedExtra(p[i]);
    return nLength;
}

// One pass gives what replacing "&" first and then the others gives.
template <class Ch>
Ch* PutEncoded(Ch* q, const Ch* p, int n) {
    for (int i = 0; i < n; ++i) {
        switch (p[i]) {
        case '&': q = PutEntity(q, "amp"); break;
        case '<': q = PutEntity(q, "lt"); break;
        case '>': q = PutEntity(q, "gt"); break;
        case '\'': q = PutEntity(q, "apos"); break;
        case '"': q = PutEntity(q, "quot"); break;
        default: *q++ = p[i];
        }
    }
    return q;
}

// The entities back to their characters, in one pass. Entities do not nest
// or overlap (each runs from "&" to ";" with neither inside), so "&amp;lt;"
// gives "&lt;", as replacing each entity in turn would. p may be the text
// of out itself: the result is never longer, so it is written behind what
// is read.
template <class Ch>
void SetDecoded(BasicString<Ch>& out, const Ch* p, int n) {
    int i = AmpIndex(p, n);
    if (i == n) {
        out.SetString(p, n);
        return;
    }
    Ch* q = out.GetBuffer(n);
    if (!q) return;
    if (q != p) std::memcpy(q, p, static_cast<std::size_t>(i) * sizeof(Ch));
    int o = i;
    while (i < n) {
        // p[i] is an "&"; what follows up to the next one goes over as it is.
        Ch c = p[i++];
        i += EntityAt(p + i, n - i, c);
        q[o++] = c;
        int k = AmpIndex(p + i, n - i);
        std::memmove(q + o, p + i, static_cast<std::size_t>(k) * sizeof(Ch));
        o += k;
        i += k;
    }
    out.ReleaseBuffer(o);
}

template <class Ch>
void SetText(BasicString<Ch>& out, const Ch* p, int n, int nForm) {
    if (nForm == kTextUnknown) nForm = ScanRun(p, static_cast<std::size_t>(n)).Form();
    if (nForm == kTextAsItIs) {
        out.SetString(p, n);
        return;
    }
    if (nForm == kTextEntities) {
        SetDecoded(out, p, n);
        return;
    }
    int nCap = n;
    Ch* q = out.GetBuffer(nCap);
    if (!q) return;
    int o = 0;
    int i = 0;
    for (;;) {
        int k = static_cast<int>(PlainLength(p + i, static_cast<std::size_t>(n - i)));
        if (k > 0) {
            std::memcpy(q + o, p + i, static_cast<std::size_t>(k) * sizeof(Ch));
            o += k;
            i += k;
        }
        if (i >= n) break;
        Ch c = p[i++];
        if (c == '&') {
            i += EntityAt(p + i, n - i, c);
        } else if (c == '\r' && i < n && p[i] == '\n') {
            q[o++] = c;
            c = p[i++];
        } else {
            // A lone CR or LF becomes CR LF: one character more than read.
            if (o + 2 + (n - i) > nCap) {
                out.ReleaseBuffer(o);
                nCap = o + 2 + (n - i) + (n - i) / 8 + 8;
                q = out.GetBuffer(nCap);
                if (!q) return;
            }
            q[o++] = '\r';
            c = '\n';
        }
        q[o++] = c;
    }
    out.ReleaseBuffer(o);
}

template void SetText(BasicString<char>&, const char*, int, int);
template void SetText(BasicString<unsigned short>&, const unsigned short*, int, int);
template long long EncodedLength(const char*, int);
template long long EncodedLength(const unsigned short*, int);
template char* PutEncoded(char*, const char*, int);
template unsigned short* PutEncoded(unsigned short*, const unsigned short*, int);
template void SetDecoded(BasicString<char>&, const char*, int);
template void SetDecoded(BasicString<unsigned short>&, const unsigned short*, int);

}  // namespace detail

template <class Ch>
void BasicAnalXml<Ch>::EncodeXmlText(BasicString<Ch>& strText) {
    const Ch* p = strText.GetString();
    int n = strText.GetLength();
    long long nLength = detail::EncodedLength(p, n);
    if (nLength == n) return;
    BasicString<Ch> out;
    Ch* q = nLength <= detail::kMaxLength<Ch> ? out.GetBuffer(static_cast<int>(nLength)) : nullptr;
    if (!q) {
        PrjWarningMsg(0);  // too long to encode: left as it was
        return;
    }
    detail::PutEncoded(q, p, n);
    out.ReleaseBuffer(static_cast<int>(nLength));
    strText.Swap(out);
}

template <class Ch>
void BasicAnalXml<Ch>::DecodeXmlText(BasicString<Ch>& strText) {
    detail::SetDecoded(strText, strText.GetString(), strText.GetLength());
}

template void BasicAnalXml<char>::EncodeXmlText(BasicString<char>&);
template void BasicAnalXml<unsigned short>::EncodeXmlText(BasicString<unsigned short>&);
template void BasicAnalXml<char>::DecodeXmlText(BasicString<char>&);
template void BasicAnalXml<unsigned short>::DecodeXmlText(BasicString<unsigned short>&);

}  // namespace vorlix
