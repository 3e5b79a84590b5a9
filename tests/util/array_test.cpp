// String-array search, sort and duplicate removal, in both widths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "widths.h"

namespace {

using widths::S;

// One name per operation for both widths.
int Find(MStringArray& a, const char* k) { return Byte_FindInAry(a, k); }
int Find(UStringArray& a, const unsigned short* k) { return Uni_FindInAry(a, k); }
int FindSorted(MStringArray& a, const char* k) { return Byte_FindInSortedAry(a, k); }
int FindSorted(UStringArray& a, const unsigned short* k) { return Uni_FindInSortedAry(a, k); }
int Sort(MStringArray& a, const char*) { return Byte_SortStringAry(a); }
int Sort(UStringArray& a, const unsigned short*) { return Uni_SortStringAry(a); }
int Uniq(MStringArray& a, const char*) { return Byte_MakeUniqAry(a); }
int Uniq(UStringArray& a, const unsigned short*) { return Uni_MakeUniqAry(a); }

typedef std::vector<std::string> V;

// Runs op(array, key) on the items in width W; its result and the array
// after it, joined with "|".
template <class W, class Op>
std::string Run(const V& items, const std::string& key, Op op) {
    vorlix::BasicStringArray<typename W::Ch> a;
    for (const std::string& s : items) a.Add(S<W>(s));
    std::string out = std::to_string(op(a, S<W>(key).GetString())) + ":";
    for (int i = 0; i < a.GetSize(); ++i) out += (i ? "|" : "") + widths::N<W>(a[i]);
    return out;
}

// The same operation in both widths must give want.
template <class Op>
void ExpectBoth(const V& items, const std::string& key, Op op, const std::string& want) {
    EXPECT_EQ(Run<widths::Narrow>(items, key, op), want);
    EXPECT_EQ(Run<widths::Wide>(items, key, op), want);
}
const auto kFind = [](auto& a, const auto* k) { return Find(a, k); };
const auto kFindSorted = [](auto& a, const auto* k) { return FindSorted(a, k); };
const auto kSort = [](auto& a, const auto* k) { return Sort(a, k); };
const auto kUniq = [](auto& a, const auto* k) { return Uniq(a, k); };

}  // namespace

TEST(UtilArray, SearchSortAndUniqueInBothWidths) {
    ExpectBoth(V{}, "a", kFind, "-1:");
    ExpectBoth(V{}, "a", kFindSorted, "-1:");
    ExpectBoth(V{}, "", kSort, "0:");
    ExpectBoth(V{}, "", kUniq, "0:");
    ExpectBoth(V{"b", "A", "a"}, "A", kFind, "2:b|A|a");  // the last equal element
    ExpectBoth(V{"b", "A", "a"}, "c", kFind, "-1:b|A|a");
    ExpectBoth(V{"Apple", "banana", "Cherry"}, "CHERRY", kFindSorted, "2:Apple|banana|Cherry");
    ExpectBoth(V{"Apple", "banana", "Cherry"}, "date", kFindSorted, "-1:Apple|banana|Cherry");
    ExpectBoth(V{"b", "c", "a"}, "", kSort, "3:a|b|c");
    ExpectBoth(V{"x"}, "", kSort, "1:x");
    ExpectBoth(V{"b", "A", "a"}, "", kSort, "3:A|a|b");                  // strict comparison: the earliest minimum
    ExpectBoth(V{"b", "_", "AB", "a", "Z"}, "", kSort, "5:_|a|AB|b|Z");  // letters fold to lower case
    ExpectBoth(V{"a", "b", "A"}, "", kUniq, "2:b|A");                    // the last occurrence survives
    ExpectBoth(V{"x", "X", "x"}, "", kUniq, "1:x");
    ExpectBoth(V{"a", "B", "b", "A", "c", "C", "c"}, "", kUniq, "3:b|A|c");
}

TEST(UtilArray, BinarySearchOverALargerArray) {
    // Keys in two cases, each twice: every one is found on one of its copies,
    // the keys between them are not.
    MStringArray a;
    for (int i = 0; i < 300; ++i) a.Add(((i % 3 ? "k" : "K") + std::to_string(1000 + 2 * (i / 2))).c_str());
    for (int i = 0; i < 150; ++i) {
        int at = Byte_FindInSortedAry(a, ("K" + std::to_string(1000 + 2 * i)).c_str());
        EXPECT_TRUE(at == 2 * i || at == 2 * i + 1) << i << " at " << at;
        EXPECT_EQ(Byte_FindInSortedAry(a, ("k" + std::to_string(1001 + 2 * i)).c_str()), -1);
    }
    EXPECT_EQ(Byte_FindInSortedAry(a, "k0"), -1);
    EXPECT_EQ(Byte_FindInSortedAry(a, "k9"), -1);
}
