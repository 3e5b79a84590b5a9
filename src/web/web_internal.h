// What the web sources share: white space as the strings see it, and the
// copy of the parallel arrays of the web classes (keys and values of
// CCgiParam, field names and values of CHttpHeader), where entry i of one
// belongs to entry i of the other.
#ifndef VORLIX_SRC_WEB_WEB_INTERNAL_H
#define VORLIX_SRC_WEB_WEB_INTERNAL_H

#include <vorlix/base/strarray.h>

namespace vorlix {
namespace detail {

// White space as the string's TrimLeft and TrimRight see it.
inline bool IsSpace(char c) { return c == ' ' || (c >= 9 && c <= 13); }

// Copies the two arrays of src into names and values. A copy that ran out
// of memory part way leaves both empty rather than half pairs behind.
inline void CopyPairs(MStringArray& names, MStringArray& values, const MStringArray& srcNames,
                      const MStringArray& srcValues) {
    names.Copy(srcNames);
    values.Copy(srcValues);
    if (names.GetSize() != srcNames.GetSize() || values.GetSize() != srcValues.GetSize()) {
        names.RemoveAll();
        values.RemoveAll();
    }
}

}  // namespace detail
}  // namespace vorlix

#endif
