// Parses arbitrary bytes, taken as 16-bit code units, as a 16-bit XML
// document in memory (a leading FF FE or FE FF picks the byte order), writes
// the tree back and parses that output again: a document that parsed must
// write text that parses to the same tree. Also round trips the text
// through the entity encoder.
#include <vorlix/vorlix.h>

#include "xml_round_trip.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Deep enough for any tree the parser can build.
const int kAllLevels = 1 << 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<unsigned short> units(size / 2 + 1, 0);
    std::memcpy(units.data(), data, size / 2 * 2);

    CAnalXmlU doc;
    int ok = doc.FromString(units.data(), 1);
    if (ok == 1 && doc.m_nParseResult != XMLRES_END_OF_DATA) __builtin_trap();
    UString out;
    doc.ToString(out, kAllLevels);

    CAnalXmlU again;
    int okAgain = again.FromString(out, 1);
    bool mixed = false;
    for (int i = 0; i < doc.GetTagCount() && !mixed; ++i) mixed = MayNotRoundTrip(doc.GetTag(i));
    if (ok == 1 && !mixed) {
        UString out2;
        again.ToString(out2, kAllLevels);
        if (okAgain != 1 || out2 != out) __builtin_trap();
    }

    UString part;
    doc.ToString(part, size ? data[0] % 4 - 1 : 0);

    const unsigned short* text = units.data();
    UString coded(text);
    CAnalXmlU::EncodeXmlText(coded);
    CAnalXmlU::DecodeXmlText(coded);
    if (coded != text) __builtin_trap();
    return 0;
}
