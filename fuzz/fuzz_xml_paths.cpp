// Parses arbitrary bytes with a plain document (private ring of offsets)
// and with a derived one (the stream's own ring), from memory and from a
// file, in both widths: the trees, results and positions must be the same.
#include <vorlix/vorlix.h>

#include "xml_same_tree.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

template <class Doc, class Watched, class Source>
void Compare(Source source) {
    Doc plain;
    Watched watched;
    plain.FromString(source(), 1);
    watched.FromString(source(), 1);
    if (!xmlsame::SameDoc<Doc>(plain, watched)) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    Compare<CAnalXmlA, xmlsame::WatchedA>([&] { return bytes.c_str(); });

    std::vector<unsigned short> units(size / 2 + 1, 0);
    if (size >= 2) std::memcpy(units.data(), data, size / 2 * 2);
    Compare<CAnalXmlU, xmlsame::WatchedU>([&] { return static_cast<const unsigned short*>(units.data()); });

    // From a file: a take-back across lines reads the line again there.
    char path[] = "/tmp/vorlix_fuzz_paths_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return 0;
    bool ok = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (ok) {
        std::vector<void*> handles;
        auto open = [&] {
            void* h = Byte_OpenFile(path, 0x80000000, 3, 0);
            if (!h) __builtin_trap();
            handles.push_back(h);
            return h;
        };
        Compare<CAnalXmlA, xmlsame::WatchedA>(open);
        Compare<CAnalXmlU, xmlsame::WatchedU>(open);
        for (void* h : handles) API_CloseFile(h);
    }
    unlink(path);
    return 0;
}
