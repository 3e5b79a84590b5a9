// Search, sort and duplicate removal over string arrays, ignoring case.
//
// Strings are compared with CompareNoCase (string.h): ASCII letters are
// folded, every other character compares by its unsigned value (bytes in the
// 8-bit form, UTF-16 code units in the 16-bit form), so results are the same
// on every platform. Two strings are equal when CompareNoCase gives 0. A
// null key compares as an empty text.
#ifndef VORLIX_UTIL_ARRAY_H
#define VORLIX_UTIL_ARRAY_H

#include <vorlix/base/strarray.h>
#include <vorlix/config.h>

// Linear search from the end: the highest index whose element equals the
// key, or -1.
VORLIX_API int Byte_FindInAry(MStringArray& ary, const char* key);
VORLIX_API int Uni_FindInAry(UStringArray& ary, const unsigned short* key);

// Binary search of an array sorted ascending by CompareNoCase (as
// SortStringAry leaves it): the index of an element equal to the key (when
// several are, whichever the halving meets first), or -1. O(log n).
VORLIX_API int Byte_FindInSortedAry(MStringArray& ary, const char* key);
VORLIX_API int Uni_FindInSortedAry(UStringArray& ary, const unsigned short* key);

// Sorts ascending in place and returns the number of elements. This is a
// selection sort: O(n^2) comparisons whatever the order (about 50 million
// for 10,000 strings), and n - 1 swaps at most. Among equal candidates the
// earliest stays the minimum, but the swaps make the sort unstable: strings
// that differ only in case may change their relative order.
VORLIX_API int Byte_SortStringAry(MStringArray& ary);
VORLIX_API int Uni_SortStringAry(UStringArray& ary);

// Removes the elements equal to a later element, so that the last occurrence
// of each string survives; the survivors keep their order. The array need
// not be sorted. Returns the number of elements left. O(n^2) comparisons.
VORLIX_API int Byte_MakeUniqAry(MStringArray& ary);
VORLIX_API int Uni_MakeUniqAry(UStringArray& ary);

#endif
