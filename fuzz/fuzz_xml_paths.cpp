// Parses arbitrary bytes in both widths with the document's own reader and
// node by node through a token data stream, from memory and from a file:
// the trees, results, positions and what the callbacks see must agree
// (xml_same_tree.h).
#include <vorlix/vorlix.h>

#include "xml_same_tree.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

template <class Doc>
void Expect(const Doc& viaDoc, const Doc& viaStream) {
    if (!xmlsame::SameDoc(viaDoc, viaStream) || viaDoc.seen != viaStream.seen) __builtin_trap();
}

// The start and byte order a 16-bit document chooses for text in memory.
void Utf16Start(const unsigned short* text, unsigned long& dwStart, int& nEndian) {
    const unsigned char* b = reinterpret_cast<const unsigned char*>(text);
    dwStart = 0;
    nEndian = API_IsLittleEndian() ? 1 : 2;
    if (b[0] == 0xFF && b[1] == 0xFE) dwStart = 1, nEndian = 1;
    if (b[0] == 0xFE && b[1] == 0xFF) dwStart = 1, nEndian = 2;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    {
        xmlsame::WatchedA viaDoc, viaStream;
        viaDoc.FromString(bytes.c_str(), 1);
        CTokenDataStreamA s(bytes.c_str(), 0);
        xmlsame::ParseNodes<xmlsame::WatchedA, CXmlTagA>(viaStream, s);
        Expect(viaDoc, viaStream);
    }
    std::vector<unsigned short> units(size / 2 + 2, 0);
    std::memcpy(units.data(), data, size / 2 * 2);
    {
        xmlsame::WatchedU viaDoc, viaStream;
        viaDoc.FromString(units.data(), 1);
        unsigned long dwStart;
        int nEndian;
        Utf16Start(units.data(), dwStart, nEndian);
        CTokenDataStreamU s(units.data(), dwStart);
        s.SetEndian(nEndian);
        xmlsame::ParseNodes<xmlsame::WatchedU, CXmlTagU>(viaStream, s);
        Expect(viaDoc, viaStream);
    }

    // From a file: a take-back across lines reads the line again there.
    char path[] = "/tmp/vorlix_fuzz_paths_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return 0;
    bool ok = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (ok) {
        void* h1 = Byte_OpenFile(path, 0x80000000, 3, 0);
        void* h2 = Byte_OpenFile(path, 0x80000000, 3, 0);
        if (!h1 || !h2) __builtin_trap();
        {
            xmlsame::WatchedA viaDoc, viaStream;
            viaDoc.FromString(h1, 1);
            CTokenDataStreamA s(h2, 0);
            xmlsame::ParseNodes<xmlsame::WatchedA, CXmlTagA>(viaStream, s);
            Expect(viaDoc, viaStream);
        }
        // The 16-bit form of a file with a byte-order mark: positions count
        // from 0 behind the mark.
        if (size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
            API_SeekFile(h1, 0, 0);
            API_SeekFile(h2, 2, 0);
            xmlsame::WatchedU viaDoc, viaStream;
            viaDoc.FromString(h1, 1);
            CTokenDataStreamU s(h2, 0);
            s.SetEndian(data[0] == 0xFF ? 1 : 2);
            xmlsame::ParseNodes<xmlsame::WatchedU, CXmlTagU>(viaStream, s);
            Expect(viaDoc, viaStream);
        }
        API_CloseFile(h1);
        API_CloseFile(h2);
    }
    unlink(path);
    return 0;
}
