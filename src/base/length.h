// The one checked conversion from a count that comes from outside (a byte
// or character count held in a size_t, a file size, a number read from the
// environment) to the int length that strings and arrays hold.
//
// The longest string of a width is kMaxLength<Ch> characters (string.h: a
// little under 2^31 in the 8-bit form, a little under 2^30 in the 16-bit
// form). Every place where a count becomes a length goes through
// CheckedLength; a count that does not fit makes the operation fail with
// its documented failure result instead of wrapping.
#ifndef VORLIX_SRC_BASE_LENGTH_H
#define VORLIX_SRC_BASE_LENGTH_H

#include <vorlix/base/string.h>

#include <climits>
#include <cstddef>
#include <type_traits>

namespace vorlix {
namespace detail {

// n as a length, or -1 when a string of Ch cannot hold that many
// characters.
template <class Ch, class N>
constexpr int CheckedLength(N n) {
    static_assert(std::is_integral<N>::value, "a count is an integer");
    if constexpr (std::is_signed<N>::value) {
        if (n < 0) return -1;
    }
    return static_cast<unsigned long long>(n) <= static_cast<unsigned long long>(kMaxLength<Ch>) ? static_cast<int>(n)
                                                                                                 : -1;
}

}  // namespace detail
}  // namespace vorlix

#endif
