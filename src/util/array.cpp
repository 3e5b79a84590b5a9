// String-array search, sort and duplicate removal, once for both widths.
#include <vorlix/util/array.h>

namespace vorlix {
namespace detail {
namespace {

template <class Ch>
int FindInAry(const BasicStringArray<Ch>& ary, const Ch* key) {
    for (int i = ary.GetSize() - 1; i >= 0; --i)
        if (ary[i].CompareNoCase(key) == 0) return i;
    return -1;
}

template <class Ch>
int FindInSortedAry(const BasicStringArray<Ch>& ary, const Ch* key) {
    const BasicString<Ch>* data = ary.GetData();
    int low = 0, high = ary.GetSize() - 1;
    while (low <= high) {
        int mid = low + (high - low) / 2;  // (low + high) / 2 without overflow
        int cmp = data[mid].CompareNoCase(key);
        if (cmp == 0) return mid;
        if (cmp < 0) low = mid + 1;
        else high = mid - 1;
    }
    return -1;
}

template <class Ch>
int SortStringAry(BasicStringArray<Ch>& ary) {
    int n = ary.GetSize();
    BasicString<Ch>* data = ary.GetData();
    for (int i = 0; i < n - 1; ++i) {
        // Only a strictly smaller element replaces the minimum, so the
        // earliest of equal candidates is the one moved to i.
        int min = i;
        for (int j = i + 1; j < n; ++j)
            if (data[min].CompareNoCase(data[j]) > 0) min = j;
        if (min != i) data[min].Swap(data[i]);
    }
    return n;
}

template <class Ch>
int MakeUniqAry(BasicStringArray<Ch>& ary) {
    int count = ary.GetSize();
    for (int i = count - 1; i >= 0; --i) {
        BasicString<Ch> key = ary[i];  // shares the text: no copy
        for (int j = i - 1; j >= 0; --j) {
            if (key.CompareNoCase(ary[j]) == 0) {
                ary.RemoveAt(j, 1);
                --count;
                --i;  // the key's element moved down by one place
            }
        }
    }
    return count;
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

namespace d = vorlix::detail;

int Byte_FindInAry(MStringArray& ary, const char* key) { return d::FindInAry(ary, key); }
int Uni_FindInAry(UStringArray& ary, const unsigned short* key) { return d::FindInAry(ary, key); }

int Byte_FindInSortedAry(MStringArray& ary, const char* key) { return d::FindInSortedAry(ary, key); }
int Uni_FindInSortedAry(UStringArray& ary, const unsigned short* key) { return d::FindInSortedAry(ary, key); }

int Byte_SortStringAry(MStringArray& ary) { return d::SortStringAry(ary); }
int Uni_SortStringAry(UStringArray& ary) { return d::SortStringAry(ary); }

int Byte_MakeUniqAry(MStringArray& ary) { return d::MakeUniqAry(ary); }
int Uni_MakeUniqAry(UStringArray& ary) { return d::MakeUniqAry(ary); }
