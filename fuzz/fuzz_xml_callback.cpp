// Parses arbitrary bytes in both forms, storing the tree and not, through a
// document whose end callback sets m_bNoChild on every third node and stops
// the parse at the thousandth: a stop must end the parse at once with
// XMLRES_END_ABORT.
#include <vorlix/vorlix.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

const int kStopAt = 1000;
const int kAllLevels = 1 << 24;

class CallbackXmlA : public CAnalXmlA {
public:
    int OnEndXmlTagA(CXmlTagA& tag, int, long) override {
        ++m_nEnded;
        if (m_nEnded % 3 == 0) tag.m_bNoChild = 1;
        return m_nEnded >= kStopAt;
    }
    int m_nEnded = 0;
};

class CallbackXmlU : public CAnalXmlU {
public:
    int OnEndXmlTagU(CXmlTagU& tag, int, long) override {
        ++m_nEnded;
        if (m_nEnded % 3 == 0) tag.m_bNoChild = 1;
        return m_nEnded >= kStopAt;
    }
    int m_nEnded = 0;
};

template <typename Doc, typename Ch, typename String>
void Parse(const Ch* text, int bStoreTag) {
    Doc doc;
    int ok = doc.FromString(text, bStoreTag);
    if (doc.m_nEnded > kStopAt) __builtin_trap();
    if (doc.m_nEnded == kStopAt && (ok == 1 || doc.m_nParseResult != XMLRES_END_ABORT)) __builtin_trap();
    if (ok == 1 && doc.m_nParseResult != XMLRES_END_OF_DATA) __builtin_trap();
    String out;
    doc.ToString(out, kAllLevels);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<unsigned short> units(size / 2 + 1, 0);
    std::memcpy(units.data(), data, size / 2 * 2);
    for (int bStoreTag = 0; bStoreTag <= 1; ++bStoreTag) {
        Parse<CallbackXmlA, char, MString>(text.c_str(), bStoreTag);
        Parse<CallbackXmlU, unsigned short, UString>(units.data(), bStoreTag);
    }
    return 0;
}
