// Parses arbitrary bytes as an 8-bit XML document in memory, writes the tree
// back and parses that output again: a document that parsed must write text
// that parses to the same tree. Also writes partial depths, copies the
// document and round trips the text through the entity encoder.
#include <vorlix/vorlix.h>

#include "xml_round_trip.h"

#include <cstdint>
#include <string>

namespace {

// Deep enough for any tree the parser can build.
const int kAllLevels = 1 << 24;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    CAnalXmlA doc;
    int ok = doc.FromString(text.c_str(), 1);
    if (ok == 1 && doc.m_nParseResult != XMLRES_END_OF_DATA) __builtin_trap();
    MString out;
    doc.ToString(out, kAllLevels);

    CAnalXmlA again;
    int okAgain = again.FromString(out, 1);
    bool mixed = false;
    for (int i = 0; i < doc.GetTagCount() && !mixed; ++i) mixed = MayNotRoundTrip(doc.GetTag(i));
    if (ok == 1 && !mixed) {
        MString out2;
        again.ToString(out2, kAllLevels);
        if (okAgain != 1 || out2 != out) __builtin_trap();
    }

    // -1 writes nothing, 0 the top-level nodes alone, and so on.
    MString part;
    doc.ToString(part, size ? data[0] % 4 - 1 : 0);

    CAnalXmlA copy(doc);
    MString copied;
    copy.ToString(copied, kAllLevels);
    if (copied != out) __builtin_trap();

    MString coded(text.c_str());
    CAnalXmlA::EncodeXmlText(coded);
    CAnalXmlA::DecodeXmlText(coded);
    if (coded != text.c_str()) __builtin_trap();
    MString decoded(text.c_str());
    CAnalXmlA::DecodeXmlText(decoded);
    return 0;
}
