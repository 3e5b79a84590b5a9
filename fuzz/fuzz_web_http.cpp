// Feeds arbitrary bytes to CHttpHeader as a header block, then writes it
// back, looks fields up and finds the code page; the charset map in both
// widths gets the bytes as a name.
#include <vorlix/vorlix.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Check(bool b) {
    if (!b) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    for (int bDecode = 0; bDecode <= 1; ++bDecode) {
        CHttpHeader h;
        h.Setup(text.c_str(), 0, bDecode);
        Check(h.m_aryName.GetSize() == h.m_aryValue.GetSize());
        MString out;
        h.ToHeaderString(out, 1);
        h.ToHeaderString(out, 0);
        h.GetCodePage();
        if (h.m_aryName.GetSize() > 0) {
            MString name = h.m_aryName[0], value;
            Check(h.Find(name) == 0);
            Check(h.GetHeaderValue(name, value) == 1);
        }
        // Writing the block and reading it back keeps every field.
        CHttpHeader again;
        h.ToHeaderString(out, 0);
        again.Setup(out, 0, 0);
        CHttpHeader copy(h);
        Check(copy.m_aryName.GetSize() == h.m_aryName.GetSize());
        // Lines fed one by one in states other than 1 and 2 change nothing.
        Check(h.ProcessLine(text.c_str(), static_cast<int>(size % 5), 0, bDecode) ==
              (size % 5 == 1 || size % 5 == 2 ? 2 : static_cast<int>(size % 5)));
    }
    Byte_CharSetToCodePage(text.c_str(), -1);
    std::vector<unsigned short> units(size / 2 + 1, 0);
    std::memcpy(units.data(), data, size / 2 * 2);
    Uni_CharSetToCodePage(units.data(), -1);
    return 0;
}
