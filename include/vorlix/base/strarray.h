// MStringArray and UStringArray: arrays of strings, kept in the object
// array (strings relocate as raw bytes, so growing never copies a text).
#ifndef VORLIX_BASE_STRARRAY_H
#define VORLIX_BASE_STRARRAY_H

#include <vorlix/base/objarray.h>
#include <vorlix/base/string.h>

namespace vorlix {

template <typename Ch>
class BasicStringArray : public CObjArray<BasicString<Ch>, const BasicString<Ch>&> {
    typedef CObjArray<BasicString<Ch>, const BasicString<Ch>&> Base;

public:
    int Add(const BasicString<Ch>& str) { return Base::Add(str); }
    int Add(const Ch* psz) { return Base::Add(BasicString<Ch>(psz)); }

    // Inserts nCount copies of the text at nIndex.
    void InsertAt(int nIndex, const BasicString<Ch>& str, int nCount = 1) { Base::InsertAt(nIndex, str, nCount); }
    void InsertAt(int nIndex, const Ch* psz, int nCount = 1) { Base::InsertAt(nIndex, BasicString<Ch>(psz), nCount); }
};

}  // namespace vorlix

typedef vorlix::BasicStringArray<char> MStringArray;
typedef vorlix::BasicStringArray<unsigned short> UStringArray;

#endif
