// Writes arbitrary bytes to a file and parses it from a file handle in both
// forms, then writes each tree into a string and into a second file: the
// file must hold exactly the string (the 16-bit one after FF FE, as UTF-16
// little-endian). Bytes without a NUL must also parse from memory in the
// 8-bit form to the same tree.
#include <vorlix/vorlix.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

// Deep enough for any tree the parser can build.
const int kAllLevels = 1 << 24;

// A fresh temporary file holding the bytes; its path, or empty on failure.
std::string TempFile(const uint8_t* data, size_t size) {
    char path[] = "/tmp/vorlix_fuzz_XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0) return std::string();
    bool ok = size == 0 || write(fd, data, size) == static_cast<ssize_t>(size);
    close(fd);
    if (!ok) {
        unlink(path);
        return std::string();
    }
    return path;
}

std::string ReadAll(const std::string& path) {
    std::string bytes;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
        std::fclose(f);
    }
    return bytes;
}

// Writes doc through a file handle into a fresh file and returns its bytes.
template <typename Doc>
std::string WriteThroughFile(const Doc& doc) {
    std::string path = TempFile(nullptr, 0);
    if (path.empty()) return std::string();
    void* h = Byte_OpenFile(path.c_str(), 0xC0000000, 3, 1);
    if (!h) __builtin_trap();
    doc.ToString(h, kAllLevels);
    API_CloseFile(h);
    std::string bytes = ReadAll(path);
    unlink(path.c_str());
    return bytes;
}

void Narrow(const std::string& path, const uint8_t* data, size_t size) {
    void* h = Byte_OpenFile(path.c_str(), 0x80000000, 3, 0);
    if (!h) __builtin_trap();
    CAnalXmlA doc;
    int ok = doc.FromString(h, 1);
    API_CloseFile(h);
    MString out;
    doc.ToString(out, kAllLevels);
    std::string written = WriteThroughFile(doc);
    if (written != std::string(out.GetString(), out.GetLength())) __builtin_trap();

    if (std::memchr(data, 0, size)) return;
    std::string text(reinterpret_cast<const char*>(data), size);
    CAnalXmlA memory;
    int okMemory = memory.FromString(text.c_str(), 1);
    if (ok != okMemory) __builtin_trap();
    if (ok == 1) {
        MString outMemory;
        memory.ToString(outMemory, kAllLevels);
        if (outMemory != out) __builtin_trap();
    }
}

void Wide(const std::string& path) {
    void* h = Byte_OpenFile(path.c_str(), 0x80000000, 3, 0);
    if (!h) __builtin_trap();
    CAnalXmlU doc;
    doc.FromString(h, 1);
    API_CloseFile(h);
    UString out;
    doc.ToString(out, kAllLevels);
    std::string expected("\xFF\xFE", 2);
    for (int i = 0; i < out.GetLength(); ++i) {
        expected += static_cast<char>(out[i] & 0xFF);
        expected += static_cast<char>(out[i] >> 8);
    }
    if (WriteThroughFile(doc) != expected) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = TempFile(data, size);
    if (path.empty()) return 0;
    Narrow(path, data, size);
    Wide(path);
    unlink(path.c_str());
    return 0;
}
