// CObjArray: the growth policy, element operations, and above all that
// elements are relocated as raw bytes, never copied or destroyed on a move.
#include "support.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Counts what happens to its objects; the id tells them apart.
class Probe : public CObjCore {
public:
    explicit Probe(int i = 0) : id(i) {}
    Probe(const Probe& o) : CObjCore(o), id(o.id) { ++copied; }
    Probe& operator=(const Probe& o) { id = o.id; return *this; }
    ~Probe() override { ++destroyed; destroyedWithId += id != 0; }
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

// Adding or inserting an element of the array itself while the block moves.
TEST(ObjArrayTest, OwnElementAsArgument) {
    CObjArray<MString> arr;
    arr.Add(MString("first"));
    for (int i = 0; i < 40; ++i) arr.Add(arr[0]);
    for (int i = 0; i < 41; ++i) EXPECT_STREQ("first", arr[i]);
    CObjArray<int> ints;
    for (int v : {10, 20, 30}) ints.Add(v);
    ints.m_nGrowBy = 1;
    ints.InsertAt(0, ints[2], 3);
    EXPECT_EQ((std::vector<int>{30, 30, 30, 10, 20, 30}), Values(ints));
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

// The parser hands a node its children in one block: the block must carry
// the capacity that appending them one at a time gives, and the elements
// must arrive unharmed, never copied or destroyed.
TEST(ObjArrayTest, MoveTailGivesTheCapacityOfSingleAppends) {
    for (int step : {0, 3}) {
        for (int n : {1, 2, 5, 6, 42, 57, 58, 1500}) {
            SCOPED_TRACE(std::to_string(step) + " " + std::to_string(n));
            CObjArray<Probe> appended, src, dst;
            appended.m_nGrowBy = dst.m_nGrowBy = step;
            src.Add(Probe(-1));
            for (int i = 1; i <= n; ++i) {
                appended.Add(Probe(i));
                src.Add(Probe(i));
            }
            Probe::Reset();
            vorlix::detail::MoveTail(src, 1, dst);
            EXPECT_EQ(0, Probe::copied + Probe::destroyed);
            EXPECT_EQ(appended.m_nMaxSize, dst.m_nMaxSize);
            EXPECT_EQ(Values(appended), Values(dst));
            EXPECT_EQ((std::vector<int>{-1}), Values(src));
        }
    }
    // An array that already has a block takes them by appending.
    CObjArray<MString> src, dst;
    dst.Add("a");
    src.Add("b");
    src.Add("c");
    vorlix::detail::MoveTail(src, 0, dst);
    ASSERT_EQ(3, dst.GetSize());
    EXPECT_EQ(5, dst.m_nMaxSize);
    EXPECT_TRUE(dst[2] == "c");
    EXPECT_EQ(0, src.GetSize());
}

// That block holds only the elements it was given, fewer than the capacity
// it reports: every way of growing the array must move it to a larger block
// before writing past them. Neighbouring blocks of the same size are filled
// alongside, so that a write past the block spoils one of them (and the
// sanitizer builds see it directly).
TEST(ObjArrayTest, ABlockFilledInOneGoGrowsBeforeItsReportedCapacity) {
    auto text = [](int i) { return MString(std::to_string(i).c_str()); };
    auto same = [](const CObjArray<MString>& a, const std::vector<int>& model) {
        if (a.GetSize() != static_cast<int>(model.size())) return false;
        for (int i = 0; i < a.GetSize(); ++i)
            if (!(a[i] == MString(std::to_string(model[i]).c_str()))) return false;
        return true;
    };
    for (int n : {1, 2, 3, 5, 6, 42, 58}) {
        for (int way = 0; way < 5; ++way) {
            SCOPED_TRACE(std::to_string(n) + " way " + std::to_string(way));
            std::vector<CObjArray<MString>> arrays(4);
            std::vector<std::vector<int>> models(4);
            for (int k = 0; k < 4; ++k) {
                CObjArray<MString> src;
                for (int i = 0; i < n; ++i) {
                    src.Add(text(k * 1000 + i));
                    models[k].push_back(k * 1000 + i);
                }
                vorlix::detail::MoveTail(src, 0, arrays[k]);
                ASSERT_GE(vorlix::detail::BlockSize(arrays[k].m_pData) / sizeof(MString), static_cast<std::size_t>(n));
            }
            CObjArray<MString>& a = arrays[1];
            std::vector<int>& m = models[1];
            int nReported = a.m_nMaxSize;
            for (int i = 0; i < 8; ++i) {
                int v = 500 + i;
                switch (way) {
                case 0: a.Add(text(v)); m.push_back(v); break;
                case 1: a.SetSize(a.GetSize() + 1); a[a.GetSize() - 1] = text(v); m.push_back(v); break;
                case 2: a.InsertAt(0, text(v)); m.insert(m.begin(), v); break;
                case 3: {
                    MString s = text(v);
                    vorlix::detail::RelocateAppend(a, s);
                    m.push_back(v);
                    break;
                }
                case 4: a.Add(a[0]); m.push_back(m[0]); break;  // an element of the array itself
                }
                ASSERT_TRUE(same(a, m)) << "after " << i + 1;
            }
            // The reported capacity followed the policy all along.
            CObjArray<MString> appended;
            for (std::size_t i = 0; i < m.size(); ++i) appended.Add(MString());
            EXPECT_EQ(appended.m_nMaxSize, a.m_nMaxSize);
            if (n + 8 <= nReported) {
                EXPECT_EQ(nReported, a.m_nMaxSize);
            }
            for (int k = 0; k < 4; ++k) EXPECT_TRUE(same(arrays[k], models[k])) << k;
        }
    }
}
