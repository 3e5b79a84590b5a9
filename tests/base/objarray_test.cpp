// CObjArray: the growth policy and the capacity it reports, element
// operations, and above all that elements are relocated as raw bytes, never
// copied or destroyed on a move; the string arrays' conveniences.
#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::U;
using testsupport::Units;

namespace {

// Counts what happens to its objects; the id tells them apart.
class Probe : public CObjCore {
public:
    typedef void RelocatesAsBytes;  // holds no pointer into itself
    explicit Probe(int i = 0) : id(i) {}
    Probe(const Probe& o) : CObjCore(o), id(o.id) { ++copied; }
    Probe& operator=(const Probe& o) {
        id = o.id;
        return *this;
    }
    ~Probe() override {
        ++destroyed;
        destroyedWithId += id != 0;
    }
    static void Reset() { copied = destroyed = destroyedWithId = 0; }
    explicit operator int() const { return id; }

    int id;
    static int copied, destroyed, destroyedWithId;
};
int Probe::copied, Probe::destroyed, Probe::destroyedWithId;

template <class T>
std::vector<int> Capacities(int nGrowBy, int nAdds) {
    CObjArray<T> arr;
    arr.m_nGrowBy = nGrowBy;
    std::vector<int> caps;
    for (int i = 0; i < nAdds; ++i) {
        arr.Add(T());
        if (caps.empty() || caps.back() != arr.m_nMaxSize) caps.push_back(arr.m_nMaxSize);
    }
    return caps;
}

template <class T>
std::vector<int> Values(const CObjArray<T>& arr) {
    std::vector<int> out;
    for (int i = 0; i < arr.GetSize(); ++i) out.push_back(static_cast<int>(arr[i]));
    return out;
}

TEST(ObjArrayTest, GrowthPolicy) {
    // Capacity after each change; 41 -> 46 comes with the 42nd element.
    EXPECT_EQ((std::vector<int>{1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51, 57}), Capacities<int>(0, 52));
    EXPECT_EQ((std::vector<int>{1, 6, 11, 16}), Capacities<int>(5, 16));
    EXPECT_EQ((std::vector<int>{1, 11, 21}), Capacities<Probe>(10, 21));
    CObjArray<int> arr;
    arr.SetSize(100);
    EXPECT_EQ(100, arr.m_nMaxSize);  // exactly, on an empty array
    arr.Add(1);
    EXPECT_EQ(112, arr.m_nMaxSize);
    arr.SetSize(10000);
    arr.Add(1);  // a step of 1250 clamped to 1024
    EXPECT_EQ(11024, arr.m_nMaxSize);
    arr.RemoveAll();
    EXPECT_TRUE(!arr.m_pData && !arr.m_nSize && !arr.m_nMaxSize);
}

TEST(ObjArrayTest, InsertRemoveAndBadArguments) {
    testsupport::WarningCounter warnings;
    CObjArray<int> arr;
    for (int v : {1, 2, 3}) arr.Add(v);
    arr.InsertAt(1, 9);
    arr.InsertAt(0, 8, 2);
    arr.RemoveAt(2, 3);
    arr.InsertAt(5, 4);  // past the end: padded with default elements
    EXPECT_EQ((std::vector<int>{8, 8, 3, 0, 0, 4}), Values(arr));
    EXPECT_EQ(0, warnings.count());
    arr.RemoveAt(6);
    arr.RemoveAt(5, 2);
    arr.InsertAt(-1, 7);
    arr.SetSize(-1);
    EXPECT_EQ(4, warnings.count());
    EXPECT_EQ(6, arr.GetSize());
}

// Adding or inserting an element of the array itself, or its text, while
// the block moves; the strings move as bytes, their text stays in place.
TEST(ObjArrayTest, OwnElementAsArgument) {
    UStringArray arr;
    arr.Add(U(u"\uD55C"));
    const unsigned short* text = arr[0].GetString();
    for (int i = 0; i < 100; ++i) i % 2 ? arr.Add(arr[0]) : arr.Add(arr[0].GetString());
    EXPECT_EQ(text, arr[0].GetString());
    for (int i = 0; i < 101; ++i) EXPECT_EQ(u"\uD55C", Units(arr[i])) << i;
    CObjArray<int> ints;
    for (int v : {10, 20, 30}) ints.Add(v);
    ints.m_nGrowBy = 1;
    ints.InsertAt(0, ints[2], 3);
    EXPECT_EQ((std::vector<int>{30, 30, 30, 10, 20, 30}), Values(ints));
}

TEST(StringArrayTest, EditsAndCopy) {
    MStringArray arr;
    EXPECT_EQ(1, arr.Add("a") + arr.Add(MString("b")));
    arr.InsertAt(1, "x", 2);
    arr.InsertAt(6, "far");  // past the end: padded with empty strings
    MStringArray copy;
    copy.Copy(arr);
    arr.RemoveAt(1, 3);
    std::string out;
    for (int i = 0; i < copy.GetSize(); ++i) out += copy[i].GetString() + std::string("|");
    EXPECT_EQ("a|x|x|b|||far|", out);
}

TEST(ObjArrayTest, GrowingAndShiftingNeverCopyOrDestroy) {
    Probe::Reset();
    {
        CObjArray<Probe> arr;
        Probe p;
        for (int i = 1; i <= 200; ++i) {
            p.id = i;
            arr.Add(p);
        }
        arr.SetSize(500);
        EXPECT_EQ(0, Probe::copied + Probe::destroyed);
        for (int i = 0; i < 200; ++i) ASSERT_EQ(i + 1, arr[i].id);
        arr.SetSize(5);
        EXPECT_EQ(495, Probe::destroyed);
        EXPECT_EQ(195, Probe::destroyedWithId);

        Probe::Reset();
        p.id = 9;
        arr.InsertAt(1, p, 2);
        arr.RemoveAt(0);
        arr.RemoveAt(1, 3);
        EXPECT_EQ(4, Probe::destroyedWithId);
        EXPECT_EQ((std::vector<int>{9, 4, 5}), Values(arr));
        Probe::Reset();
        p.id = 0;
    }
    // Exactly the elements alive at the end, and p, were destroyed.
    EXPECT_EQ(0, Probe::copied);
    EXPECT_EQ(4, Probe::destroyed);
    EXPECT_EQ(3, Probe::destroyedWithId);
}

}  // namespace

// m_nMaxSize never claims more than the block holds, and a very large
// array still grows geometrically: the bytes moved while appending a
// million elements one by one stay a small multiple of the final size (a
// fixed step of 1024 slots would move them a hundred times over).
TEST(ObjArrayTest, CapacityIsHeldAndLargeArraysGrowGeometrically) {
    CObjArray<int> arr;
    const int* block = nullptr;
    std::size_t nMoved = 0;
    for (int i = 0; i < 1000000; ++i) {
        arr.Add(i);
        if (arr.m_pData != block) {
            if (block) nMoved += sizeof(int) * static_cast<std::size_t>(arr.GetSize() - 1);
            block = arr.m_pData;
            ASSERT_GE(vorlix::detail::BlockSize(block), sizeof(int) * static_cast<std::size_t>(arr.m_nMaxSize));
        }
    }
    EXPECT_LT(nMoved, 8 * sizeof(int) * 1000000u);
    EXPECT_EQ(999999, arr[999999]);
}
