// printf-style formatting into the library's strings, in both widths.
#ifndef VORLIX_SRC_BASE_FORMAT_H
#define VORLIX_SRC_BASE_FORMAT_H

#include <vorlix/base/string.h>

#include <cstdarg>

namespace vorlix {
namespace detail {

// Replaces the text of out with the formatted text.
template <class Ch>
void FormatInto(BasicString<Ch>& out, const Ch* pszFormat, std::va_list* pArgs);

}  // namespace detail
}  // namespace vorlix

#endif
