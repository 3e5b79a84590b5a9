// Format with a fuzz-chosen format string, in both widths.
//
// The first byte chooses the width (bit 0) and where in the value tables the
// arguments start (the rest); the remaining bytes are the format (pairs of
// bytes, little-endian, in the 16-bit form). The harness reads the format
// the way the engine does to learn the type of every argument it takes,
// then passes a real argument of that type from a fixed table: integers at
// their limits, doubles and long doubles, pointers, null, and texts of both
// widths with multi-byte characters, surrogate pairs and ill-formed
// sequences. Widths and precisions are whatever the format says; those
// from * come from the int table, INT_MAX and INT_MIN among them.
//
// A call takes at most three arguments, so that every sequence of types can
// be instantiated: the format is cut between conversions into pieces that
// need no more, and each piece is formatted by a call of its own. The
// engine runs with a 1 MiB limit instead of 2^31 characters, so that
// refusing a huge width costs as little as it does at the real limit.
//
// Checks: nothing crashes, reads out of bounds or leaks (the sanitizers);
// a piece either gives its text within the limit or fails with an empty
// string.
#include <vorlix/base/string.h>

#include "../src/base/format.h"

#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr int kLimit = 1 << 20;
constexpr int kMaxArgs = 3;

enum Type { kInt, kUnsigned, kLong, kULong, kLongLong, kULongLong, kDouble, kLongDouble, kPointer, kNarrow, kWide };

const int kInts[] = {0, 1, -1, 7, 42, -300, 100000, INT_MAX, INT_MIN, 0x41, 0xD55C, 0xD83D};
const unsigned kUnsigneds[] = {0, 1, 255, 65535, 0x80000000u, UINT_MAX};
const long kLongs[] = {0, -1, LONG_MIN, LONG_MAX, 123456789L};
const unsigned long kULongs[] = {0, 1, ULONG_MAX, 0xDEADBEEFul};
const long long kLongLongs[] = {0, -5, LLONG_MIN, LLONG_MAX};
const unsigned long long kULongLongs[] = {0, 9, ULLONG_MAX};
const double kDoubles[] = {0.0, -2.25, 1e300, 4.9e-324, 1.0 / 3, -1e-10, 1.0 / 0.0, 0.0 / 0.0};
const long double kLongDoubles[] = {0.0L, -1.5L, 1e4000L, 3.141592653589793238L};
int g_target;
void* const kPointers[] = {nullptr, &g_target, reinterpret_cast<void*>(~std::uintptr_t(0))};
const char kLong8[] =
    "a longer text that goes on for a while so that precisions and widths have something to cut, "
    "\xED\x95\x9C\xEA\xB8\x80 with Hangul and \xF0\x9F\x98\x80 a pair at the end";
// clang-format off
const char* const kNarrows[] = {"", "abc", "\xED\x95\x9C\xF0\x9F\x98\x80z", "\xE0\xA0" "A\xFF\xC3", kLong8, nullptr};
// clang-format on
const unsigned short kW1[] = {0};
const unsigned short kW2[] = {'a', 'b', 'c', 0};
const unsigned short kW3[] = {0xD55C, 0xD83D, 0xDE00, 'z', 0};
const unsigned short kW4[] = {0xDC00, 'x', 0xD800, 0};
const unsigned short* const kWides[] = {kW1, kW2, kW3, kW4, nullptr};

template <class T, std::size_t N>
T Pick(const T (&table)[N], std::size_t k) {
    return table[k % N];
}

// Reads one conversion after its '%' the way the engine does, appending the
// types of the arguments it takes; returns where the conversion ends.
template <class Ch>
const Ch* ParseConversion(const Ch* p, std::vector<Type>& types) {
    while (*p == '-' || *p == '+' || *p == ' ' || *p == '#' || *p == '0') ++p;
    if (*p == '*') {
        types.push_back(kInt);
        ++p;
    } else {
        while (*p >= '0' && *p <= '9') ++p;
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            types.push_back(kInt);
            ++p;
        } else {
            while (*p >= '0' && *p <= '9') ++p;
        }
    }
    enum { kNone, kHH, kH, kL, kLL, kLD, kSize } length = kNone;
    bool wide = false, narrow = false;
    for (bool more = true; more;) {
        switch (*p) {
        // clang-format off
        case 'h': length = length == kH ? kHH : kH; narrow = true; ++p; break;
        case 'l': length = length == kL ? kLL : kL; wide = true; ++p; break;
        case 'w': wide = true; ++p; break;
        case 'L': length = kLD; ++p; break;
        case 'q':
        case 'j': length = kLL; ++p; break;
        case 'z':
        case 't': length = kSize; ++p; break;
        case 'I':
            if (p[1] == '6' && p[2] == '4') { length = kLL; p += 3; }
            else if (p[1] == '3' && p[2] == '2') { length = kNone; p += 3; }
            else { length = kSize; ++p; }
            break;
        default: more = false;
            // clang-format on
        }
    }
    Ch c = *p;
    if (!c) return p;
    bool ownIsNarrow = sizeof(Ch) == 1;
    switch (c) {
    case 'd':
    case 'i': types.push_back(length == kL ? kLong : length == kLL ? kLongLong : length == kSize ? kLong : kInt); break;
    case 'u':
    case 'o':
    case 'x':
    case 'X':
        types.push_back(length == kL ? kULong : length == kLL ? kULongLong : length == kSize ? kULong : kUnsigned);
        break;
    case 'p':
    case 'n': types.push_back(kPointer); break;
    case 'c':
    case 'C': types.push_back(kInt); break;
    case 's':
    case 'S': {
        bool other = c == 'S' ? !(ownIsNarrow ? narrow : wide) : (ownIsNarrow ? wide : narrow);
        bool argIsNarrow = ownIsNarrow != other;
        types.push_back(argIsNarrow ? kNarrow : kWide);
        break;
    }
    case 'e':
    case 'E':
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'a':
    case 'A': types.push_back(length == kLD ? kLongDouble : kDouble); break;
    default: break;
    }
    return p + 1;
}

static_assert(sizeof(std::ptrdiff_t) == sizeof(long) && sizeof(std::size_t) == sizeof(unsigned long),
              "%zd and %zu read long and unsigned long here");

template <class Ch>
int FormatPiece(vorlix::BasicString<Ch>& out, const Ch* fmt, ...) {
    std::va_list ap;
    va_start(ap, fmt);
    int r = vorlix::detail::FormatInto(out, fmt, &ap, kLimit);
    va_end(ap);
    return r;
}

template <class Ch>
struct Piece {
    const Ch* fmt;
    const Type* types;
    std::size_t seed;

    template <class... A>
    void Run(A... args) const {
        vorlix::BasicString<Ch> out(Ch('x'), 3);  // old text, which a failure must not leave
        int r = FormatPiece(out, fmt, args...);
        if (r ? out.GetLength() > kLimit : !out.IsEmpty()) __builtin_trap();
    }

    // Adds the argument at position sizeof...(A), of its type, and goes on.
    template <class... A>
    void Call(std::size_t n, A... args) const {
        if constexpr (sizeof...(A) == kMaxArgs) {
            Run(args...);
        } else {
            if (n == sizeof...(A)) {
                Run(args...);
                return;
            }
            std::size_t k = seed + sizeof...(A);
            switch (types[sizeof...(A)]) {
            case kInt: Call(n, args..., Pick(kInts, k)); break;
            case kUnsigned: Call(n, args..., Pick(kUnsigneds, k)); break;
            case kLong: Call(n, args..., Pick(kLongs, k)); break;
            case kULong: Call(n, args..., Pick(kULongs, k)); break;
            case kLongLong: Call(n, args..., Pick(kLongLongs, k)); break;
            case kULongLong: Call(n, args..., Pick(kULongLongs, k)); break;
            case kDouble: Call(n, args..., Pick(kDoubles, k)); break;
            case kLongDouble: Call(n, args..., Pick(kLongDoubles, k)); break;
            case kPointer: Call(n, args..., Pick(kPointers, k)); break;
            case kNarrow: Call(n, args..., Pick(kNarrows, k)); break;
            case kWide: Call(n, args..., Pick(kWides, k)); break;
            }
        }
    }
};

// Cuts the format into pieces of at most kMaxArgs arguments and formats each.
template <class Ch>
void FormatAll(const std::vector<Ch>& format, std::size_t seed) {
    const Ch* p = format.data();
    while (*p) {
        const Ch* begin = p;
        std::vector<Type> types;
        while (*p) {
            if (*p != '%') {
                ++p;
                continue;
            }
            std::vector<Type> next;
            const Ch* end = ParseConversion(p + 1, next);
            if (types.size() + next.size() > kMaxArgs) break;  // never for the first: it takes 3 at most
            types.insert(types.end(), next.begin(), next.end());
            p = end;
        }
        std::vector<Ch> piece(begin, p);
        piece.push_back(0);
        Piece<Ch>{piece.data(), types.data(), seed}.Call(types.size());
        seed += types.size();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    std::size_t seed = data[0] >> 1;
    if (data[0] & 1) {
        std::vector<unsigned short> format;
        for (std::size_t i = 1; i + 1 < size; i += 2) {
            unsigned short u = static_cast<unsigned short>(data[i] | (data[i + 1] << 8));
            if (!u) break;
            format.push_back(u);
        }
        format.push_back(0);
        FormatAll(format, seed);
    } else {
        std::vector<char> format;
        for (std::size_t i = 1; i < size && data[i]; ++i) format.push_back(static_cast<char>(data[i]));
        format.push_back(0);
        FormatAll(format, seed);
    }
    return 0;
}
