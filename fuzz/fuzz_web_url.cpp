// Feeds arbitrary bytes to the URL functions in both widths: splitting,
// base URLs, the standard form, dotted addresses, and the byte sum.
#include <vorlix/vorlix.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool b) {
    if (!b) __builtin_trap();
}

template <class Str, class Ch>
void Url(const Ch* text, void (*parse)(const Ch*, Str&, Str&, Str&, Str&, unsigned short&), void (*base)(Str&),
         void (*standard)(Str&, int), int (*ip)(const Ch*, unsigned char*)) {
    Str scheme, host, path, query;
    unsigned short port;
    parse(text, scheme, host, path, query, port);
    // The host is lowered, except a drive letter ("C:") after file://.
    bool bDrive = host.GetLength() == 2 && host[1] == ':';
    for (int i = 0; i < host.GetLength() && !bDrive; ++i) Check(!(host[i] >= 'A' && host[i] <= 'Z'));
    Str url(text);
    base(url);
    for (int bLower = 0; bLower <= 1; ++bLower) {
        Str s(text);
        standard(s, bLower);
        // The standard form is never longer: lowering keeps the length,
        // and the rebuilt query drops quotes, blanks and broken pairs but
        // adds nothing (also through code page 949 and back).
        Check(s.GetLength() <= Str(text).GetLength());
    }
    unsigned char bytes[4];
    Check(ip(text, bytes) == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Url<MString, char>(text.c_str(), Byte_ParsorUrl, Byte_GetBaseUrl, Byte_StandardUrl, Byte_IPStrToIPByte);
    std::vector<unsigned short> units(size / 2 + 1, 0);
    std::memcpy(units.data(), data, size / 2 * 2);
    Url<UString, unsigned short>(units.data(), Uni_ParsorUrl, Uni_GetBaseUrl, Uni_StandardUrl, Uni_IPStrToIPByte);
    API_StringToDWord(data, static_cast<int>(size));
    return 0;
}
