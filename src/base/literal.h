// Text literals for code written once for both widths.
//
// A template over the character type cannot spell a literal of its own
// width: "abc" is a char array and there is no 16-bit literal that is an
// unsigned short array. MakeLit<Ch>("abc") copies a narrow literal into a
// Ch array at compile time, each byte as an unsigned value (so the
// literals are meant to be ASCII), NUL included. The result converts to
// const Ch*, keeps its length as a constant, and as a static constexpr
// member of a class template costs nothing at run time.
#ifndef VORLIX_SRC_BASE_LITERAL_H
#define VORLIX_SRC_BASE_LITERAL_H

#include <cstddef>

namespace vorlix {
namespace detail {

// A literal of N characters (the NUL included) in the width Ch.
template <class Ch, std::size_t N>
struct Lit {
    Ch s[N];
    constexpr explicit Lit(const char (&a)[N]) : s() {
        for (std::size_t i = 0; i < N; ++i) s[i] = static_cast<Ch>(static_cast<unsigned char>(a[i]));
    }
    constexpr operator const Ch*() const { return s; }
    // The characters before the NUL.
    static constexpr int Length() { return static_cast<int>(N) - 1; }
};

template <class Ch, std::size_t N>
constexpr Lit<Ch, N> MakeLit(const char (&a)[N]) {
    return Lit<Ch, N>(a);
}

}  // namespace detail
}  // namespace vorlix

#endif
