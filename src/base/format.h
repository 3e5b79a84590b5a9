// printf-style formatting into the library's strings, in both widths.
#ifndef VORLIX_SRC_BASE_FORMAT_H
#define VORLIX_SRC_BASE_FORMAT_H

#include <vorlix/base/string.h>

#include <cstdarg>

namespace vorlix {
namespace detail {

// Replaces the text of out with the formatted text and returns 1; when the
// text cannot be produced (longer than nMaxLength characters, a width or
// precision beyond INT_MAX, memory exhausted) out becomes empty, the
// failure goes to PrjWarningMsg, and the result is 0. A negative
// nMaxLength, or one past the string limit, means the string limit; the
// fuzz target passes a small one so that refusals cost little.
template <class Ch>
int FormatInto(BasicString<Ch>& out, const Ch* pszFormat, std::va_list* pArgs, int nMaxLength = -1);

}  // namespace detail
}  // namespace vorlix

#endif
