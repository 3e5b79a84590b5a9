// CObjArray: the growth policy, element operations, and above all that
// elements are relocated as raw bytes, never copied or destroyed on a move.
#include "support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Counts what happens to its objects; the id tells them apart.
class Probe : public CObjCore {
public:
    explicit Probe(int i = 0) : id(i) { ++made; }
    Probe(const Probe& o) : CObjCore(o), id(o.id) { ++copied; }
    Probe& operator=(const Probe& o) { id = o.id; ++assigned; return *this; }
    ~Probe() override { ++destroyed; destroyedWithId += id != 0; }
    static void Reset() { made = copied = assigned = destroyed = destroyedWithId = 0; }

    int id;
    static int made, copied, assigned, destroyed, destroyedWithId;
};
int Probe::made, Probe::copied, Probe::assigned, Probe::destroyed, Probe::destroyedWithId;

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

template <class T, class F>
std::vector<int> Values(const CObjArray<T>& arr, F f) {
    std::vector<int> out;
    for (int i = 0; i < arr.GetSize(); ++i) out.push_back(f(arr[i]));
    return out;
}
std::vector<int> Values(const CObjArray<int>& arr) {
    return Values(arr, [](int v) { return v; });
}
std::vector<int> Ids(const CObjArray<Probe>& arr) {
    return Values(arr, [](const Probe& p) { return p.id; });
}

TEST(ObjArrayTest, GrowthPolicy) {
    // Capacity after each change; 41 -> 46 comes with the 42nd element.
    EXPECT_EQ((std::vector<int>{1, 5, 9, 13, 17, 21, 25, 29, 33, 37, 41, 46, 51, 57}), Capacities<int>(0, 52));
    EXPECT_EQ((std::vector<int>{1, 6, 11, 16}), Capacities<int>(5, 16));
    EXPECT_EQ((std::vector<int>{1, 11, 21}), Capacities<Probe>(10, 21));

    CObjArray<int> arr;
    arr.SetSize(100);
    EXPECT_EQ(100, arr.m_nMaxSize);
    EXPECT_EQ(std::vector<int>(100, 0), Values(arr));
    arr.Add(1);
    EXPECT_EQ(112, arr.m_nMaxSize);
    arr.SetSize(3, 7);  // shrinking keeps the block; the step is now 7
    EXPECT_EQ(112, arr.m_nMaxSize);
    EXPECT_EQ(7, arr.m_nGrowBy);
    arr.RemoveAll();
    EXPECT_TRUE(!arr.m_pData && !arr.m_nSize && !arr.m_nMaxSize);
}

TEST(ObjArrayTest, InsertAndRemove) {
    CObjArray<int> arr;
    for (int v : {1, 2, 3}) arr.Add(v);
    arr.InsertAt(1, 9);
    arr.InsertAt(0, 8, 2);
    arr.InsertAt(6, 5);  // at the end
    EXPECT_EQ((std::vector<int>{8, 8, 1, 9, 2, 3, 5}), Values(arr));
    int cap = arr.m_nMaxSize;
    arr.RemoveAt(0);
    arr.RemoveAt(2, 3);
    EXPECT_EQ((std::vector<int>{8, 1, 5}), Values(arr));
    EXPECT_EQ(cap, arr.m_nMaxSize);
    arr.InsertAt(5, 4);  // past the end: padded with default elements
    EXPECT_EQ((std::vector<int>{8, 1, 5, 0, 0, 4}), Values(arr));
}

TEST(ObjArrayTest, BadArgumentsAreReportedAndChangeNothing) {
    testsupport::WarningCounter warnings;
    CObjArray<int> arr;
    for (int v : {1, 2}) arr.Add(v);
    arr.SetSize(10);
    arr.SetSize(3);
    EXPECT_EQ(0, warnings.count());
    arr.SetSize(-1);
    arr.RemoveAt(3);
    arr.RemoveAt(-1);
    arr.RemoveAt(2, 2);
    arr.InsertAt(-1, 7);
    arr.InsertAt(0, 7, 0);
    EXPECT_EQ(6, warnings.count());
    EXPECT_EQ((std::vector<int>{1, 2, 0}), Values(arr));
    EXPECT_EQ(10, arr.m_nMaxSize);
    (void)arr[5];  // inside the block, outside the array
    EXPECT_EQ(7, warnings.count());
}

TEST(ObjArrayTest, CopiesAreDeep) {
    CObjArray<MString> a, c;
    for (const char* t : {"one", "two"}) a.Add(MString(t));
    for (const char* t : {"old", "older", "oldest"}) c.Add(MString(t));
    CObjArray<MString> b(a);
    c = a;
    a[0] = "changed";
    a.RemoveAt(1);
    for (CObjArray<MString>* x : {&b, &c}) {
        ASSERT_EQ(2, x->GetSize());
        EXPECT_STREQ("one", (*x)[0]);
        EXPECT_STREQ("two", (*x)[1]);
    }
    const CObjArray<MString>& same = c;
    c = same;
    EXPECT_EQ(2, c.GetSize());
}

// Adding or inserting an element of the array itself while the block moves.
TEST(ObjArrayTest, OwnElementAsArgument) {
    CObjArray<MString> arr;
    arr.Add(MString("first"));
    for (int i = 0; i < 40; ++i) arr.Add(arr[0]);
    ASSERT_EQ(41, arr.GetSize());
    for (int i = 0; i < 41; ++i) EXPECT_STREQ("first", arr[i]);

    CObjArray<int> ints;
    for (int v : {10, 20, 30}) ints.Add(v);
    ints.m_nGrowBy = 1;
    ints.InsertAt(0, ints[2], 3);
    EXPECT_EQ((std::vector<int>{30, 30, 30, 10, 20, 30}), Values(ints));
    ints.InsertAt(9, ints[1]);
    EXPECT_EQ(30, ints[9]);
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
        EXPECT_EQ(0, Probe::copied);
        EXPECT_EQ(0, Probe::destroyed);
        EXPECT_EQ(1 + 200, Probe::made);  // p, then one slot per Add
        EXPECT_EQ(200, Probe::assigned);
        for (int i = 0; i < 200; ++i) ASSERT_EQ(i + 1, arr[i].id);
        arr.SetSize(500);
        EXPECT_EQ(0, Probe::copied + Probe::destroyed);
        arr.SetSize(5);
        EXPECT_EQ(495, Probe::destroyed);
        EXPECT_EQ(195, Probe::destroyedWithId);

        Probe::Reset();
        p.id = 9;
        arr.InsertAt(1, p, 2);
        EXPECT_EQ((std::vector<int>{1, 9, 9, 2, 3, 4, 5}), Ids(arr));
        EXPECT_EQ(0, Probe::copied + Probe::destroyedWithId);
        Probe::Reset();
        arr.RemoveAt(0);
        arr.RemoveAt(1, 3);
        EXPECT_EQ(4, Probe::destroyed);
        EXPECT_EQ(4, Probe::destroyedWithId);
        EXPECT_EQ((std::vector<int>{9, 4, 5}), Ids(arr));
        Probe::Reset();
        p.id = 0;
    }
    // Exactly the elements alive at the end, and p, were destroyed.
    EXPECT_EQ(0, Probe::copied);
    EXPECT_EQ(4, Probe::destroyed);
    EXPECT_EQ(3, Probe::destroyedWithId);
}

}  // namespace
