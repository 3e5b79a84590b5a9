// Feeds arbitrary bytes to the date parsers, as 8-bit text and as 16-bit
// units. Checks: a refused text leaves the time untouched; on text of ASCII
// characters both widths give the same result. Runs in a zone with summer
// time, so that both conversions of the local calendar are exercised.
#include <vorlix/vorlix.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool b) {
    if (!b) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    bool bAscii = true;
    for (unsigned char c : text) bAscii = bAscii && c < 0x80;

    MTime narrow(12345);
    int r = Byte_ParsorStrTime(text.c_str(), narrow);
    if (!r) Check(narrow.GetTime() == 12345);
    long v = Byte_String2Time(text.c_str());

    // The bytes as 16-bit units of the same values, and the raw bytes taken
    // two at a time.
    std::vector<unsigned short> widened;
    for (unsigned char c : text) widened.push_back(c);
    widened.push_back(0);
    MTime wide(12345);
    int wr = Uni_ParsorStrTime(widened.data(), wide);
    if (!wr) Check(wide.GetTime() == 12345);
    long wv = Uni_String2Time(widened.data());
    if (bAscii) {
        // Before a NUL the texts are the same characters.
        Check(wr == r && wide.GetTime() == narrow.GetTime());
        Check(wv == v);
    }

    std::vector<unsigned short> units(size / 2 + 1, 0);
    std::memcpy(units.data(), data, size / 2 * 2);
    MTime raw(12345);
    if (!Uni_ParsorStrTime(units.data(), raw)) Check(raw.GetTime() == 12345);
    Uni_String2Time(units.data());
    return 0;
}
