// Feeds arbitrary bytes to the path parsers of the file-system layer:
// GetFullPathNameA/W with buffers of every size, _splitpath/_wsplitpath,
// the search-pattern matcher (checked against a table-driven matcher) and
// the 16-bit name conversion (bytes -> UTF-16 -> bytes must give the same
// bytes back). The first byte picks a buffer size; the rest is the text,
// and for the matcher a NUL splits it into pattern and name.
#include <vorlix/vorlix.h>

#include "../src/platform/posix/fsnames.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace vorlix::win;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// A result of GetFullPathName is absolute, with single separators and no
// "." or ".." part.
template <class Ch>
void CheckFullPath(const Ch* p, DWORD n) {
    Check(n > 0 && p[0] == '/' && p[n] == 0);
    for (DWORD i = 0; i < n; ++i) {
        if (p[i] != '/') continue;
        Check(i + 1 == n || p[i + 1] != '/');
        DWORD j = i + 1;
        while (j < n && p[j] != '/') ++j;
        DWORD len = j - i - 1;
        Check(!(len == 1 && p[i + 1] == '.') && !(len == 2 && p[i + 1] == '.' && p[i + 2] == '.'));
    }
}

template <class Ch, class Call>
void FullPath(DWORD size, Call call) {
    std::vector<Ch> big(8192), small(size + 1);
    Ch* part = nullptr;
    DWORD n = call(static_cast<DWORD>(big.size()), big.data(), &part);
    if (n == 0 || n >= big.size()) return;  // an empty path, or a cwd too long for the test buffer
    CheckFullPath(big.data(), n);
    Check(part == nullptr ? big[n - 1] == '/' : (part > big.data() && part <= big.data() + n && part[-1] == '/'));
    small[size] = 0x55;
    DWORD m = call(size, small.data(), nullptr);
    if (size > n) {
        Check(m == n && std::memcmp(small.data(), big.data(), (n + 1) * sizeof(Ch)) == 0);
    } else {
        Check(m == n + 1);  // the size needed, with the NUL
    }
    Check(small[size] == 0x55);  // nothing written past the buffer
}

template <class Ch, class Split>
void SplitPath(const Ch* path, std::size_t n, Split split) {
    Ch dir[_MAX_DIR], fname[_MAX_FNAME], ext[_MAX_EXT], drive[_MAX_DRIVE];
    split(path, drive, dir, fname, ext);
    Check(drive[0] == 0);
    std::basic_string<Ch> joined;
    for (const Ch* p : {static_cast<const Ch*>(dir), static_cast<const Ch*>(fname), static_cast<const Ch*>(ext)})
        for (; *p; ++p) joined += *p;
    if (n < _MAX_FNAME - 1) Check(joined == std::basic_string<Ch>(path, n));
}

std::size_t CharLength(const unsigned char* s, std::size_t i, std::size_t n) {
    std::size_t j = i + 1;
    if (s[i] >= 0xC0)
        while (j < n && (s[j] & 0xC0) == 0x80) ++j;
    return j - i;
}

unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

// The same rules as a table: can[i][j] says whether the first i pattern
// bytes can take the first j name bytes.
bool TableGlob(const unsigned char* p, std::size_t np, const unsigned char* s, std::size_t ns) {
    std::vector<std::vector<char>> can(np + 1, std::vector<char>(ns + 1, 0));
    can[0][0] = 1;
    for (std::size_t i = 0; i < np; ++i)
        for (std::size_t j = 0; j <= ns; ++j) {
            if (!can[i][j]) continue;
            if (p[i] == '*') {
                // A star takes characters one at a time from where it starts.
                for (std::size_t k = j;; k += CharLength(s, k, ns)) {
                    can[i + 1][k] = 1;
                    if (k >= ns) break;
                }
            } else if (j < ns && p[i] == '?') {
                can[i + 1][j + CharLength(s, j, ns)] = 1;
            } else if (j < ns && Fold(p[i]) == Fold(s[j])) {
                can[i + 1][j + 1] = 1;
            }
        }
    return can[np][ns];
}

bool TableMatch(const unsigned char* p, std::size_t np, const unsigned char* s, std::size_t ns) {
    if (np >= 2 && p[np - 2] == '.' && p[np - 1] == '*' && TableGlob(p, np - 2, s, ns)) return true;
    return TableGlob(p, np, s, ns);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    DWORD bufferSize = data[0];
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string cstr(text.c_str());  // up to the first NUL

    FullPath<char>(bufferSize,
                   [&](DWORD n, char* buf, char** part) { return GetFullPathNameA(cstr.c_str(), n, buf, part); });
    std::u16string units;
    for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
        char16_t u =
            static_cast<char16_t>(static_cast<unsigned char>(text[i]) | (static_cast<unsigned char>(text[i + 1]) << 8));
        if (u == 0) break;
        units += u;
    }
    const WCHAR* wide = reinterpret_cast<const WCHAR*>(units.c_str());
    FullPath<WCHAR>(bufferSize,
                    [&](DWORD n, WCHAR* buf, WCHAR** part) { return GetFullPathNameW(wide, n, buf, part); });

    SplitPath(cstr.c_str(), cstr.size(), _splitpath);
    std::vector<WCHAR> wcopy(units.begin(), units.end());
    wcopy.push_back(0);
    SplitPath(wcopy.data(), units.size(), _wsplitpath);

    // Names on disk round-trip through the 16-bit form.
    std::u16string asWide = posix::BytesToWide(text.data(), text.size());
    Check(posix::WideToBytes(reinterpret_cast<const WCHAR*>(asWide.data()), asWide.size()) == text);

    // The matcher agrees with the table on short inputs.
    std::size_t split = text.find('\0');
    if (split != std::string::npos && text.size() < 160) {
        const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
        const unsigned char* s = p + split + 1;
        std::size_t ns = text.size() - split - 1;
        Check(posix::MatchPattern(text.data(), split, text.data() + split + 1, ns) == TableMatch(p, split, s, ns));
    }
    return 0;
}
