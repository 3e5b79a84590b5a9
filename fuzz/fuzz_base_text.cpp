// Feeds arbitrary bytes to the base text primitives: the line readers in
// memory and from a file in both widths and every encoding, the token and
// split readers, path parts, number parsing and code-page conversion.
#include <vorlix/vorlix.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

const char kXmlDelims[] = "<?!/>=& \t";
const unsigned short kXmlDelimsU[] = {'<', '?', '!', '/', '>', '=', '&', ' ', '\t', 0};
const unsigned short kSplitU[] = {',', ':', '/', ' ', 0};

void Text8(const char* text) {
    unsigned long pos = 0;
    MString line;
    while (Byte_ReadText1Line(text, pos, line, 1)) {
        MString tok;
        int index;
        long at = 0;
        while ((at = Byte_GetTokenOpt(line, at, tok, kXmlDelims, index, -1, 3)) >= 0) {}
    }
    MStringArray parts;
    Byte_GetSplitToken(text, 0, ",: /", parts);
    MString out;
    Byte_GetPathPart(text, out, 15);
    Byte_AtoL(text);
    Byte_FindAsc(text, '/', 0);
    UString wide;
    wide.FromMBC(65001, text);
    wide.FromMBC(949, text);
    MString back;
    back.FromUnicode(65001, wide);
    back.FromUnicode(949, wide);
}

void Text16(const unsigned short* text) {
    for (int endian = 0; endian <= 3; ++endian) {
        unsigned long pos = 0;
        UString line;
        while (Uni_ReadText1LineEndian(text, pos, line, 1, endian)) {
            UString tok;
            int index;
            long at = 0;
            while ((at = Uni_GetTokenOpt(line, at, tok, kXmlDelimsU, index, -1, 3)) >= 0) {}
        }
    }
    UStringArray parts;
    Uni_GetSplitToken(text, 0, kSplitU, parts);
    UString out;
    Uni_GetPathPart(text, out, 15);
    Uni_AtoL(text);
}

void File(const uint8_t* data, size_t size) {
    char path[] = "/tmp/vorlix_fuzz_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return;
    if (write(fd, data, size) != static_cast<ssize_t>(size)) {
        close(fd);
        unlink(path);
        return;
    }
    close(fd);
    void* h = Byte_OpenFile(path, 0xC0000000, 3, 0);
    if (h) {
        MString line;
        long previous = 0;
        while (Byte_Read1Line(h, line, 1)) {
            // Seek back to the start of the line just read and read it again:
            // seeks inside the read buffer take a path of their own.
            long at = API_SeekFile(h, 0, 1);
            API_SeekFile(h, previous, 0);
            MString again;
            Byte_Read1Line(h, again, 1);
            if (again != line || API_SeekFile(h, 0, 1) != at) __builtin_trap();
            previous = at;
        }
        for (int endian = 1; endian <= 3; ++endian) {
            API_SeekFile(h, 0, 0);
            UString wline;
            int lines = 0;
            while (Uni_Read1LineEndian(h, wline, 1, endian) && ++lines < 100000) {}
        }
        API_CloseFile(h);
    }
    unlink(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    Text8(text.c_str());
    std::vector<unsigned short> units(size / 2 + 1, 0);
    std::memcpy(units.data(), data, size / 2 * 2);
    Text16(units.data());
    File(data, size);
    return 0;
}
