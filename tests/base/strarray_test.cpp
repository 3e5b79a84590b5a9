// MStringArray and UStringArray: the string conveniences over CObjArray.
#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::U;
using testsupport::Units;

namespace {

typedef std::vector<std::string> Strings;

Strings Texts(const MStringArray& arr) {
    Strings out;
    for (int i = 0; i < arr.GetSize(); ++i) out.push_back(arr[i].GetString());
    return out;
}

TEST(StringArrayTest, EditsInBothForms) {
    MStringArray arr;
    EXPECT_EQ(0, arr.GetSize());
    EXPECT_EQ(0, arr.Add("a"));
    EXPECT_EQ(1, arr.Add(MString("b")));
    EXPECT_EQ(2, arr.Add("c"));
    arr[1] += "!";
    arr[2] = "C";
    EXPECT_EQ((Strings{"a", "b!", "C"}), Texts(arr));

    arr.InsertAt(1, "x", 2);
    arr.InsertAt(0, MString("first"));
    EXPECT_EQ((Strings{"first", "a", "x", "x", "b!", "C"}), Texts(arr));
    arr.InsertAt(7, "far");  // past the end: padded with empty strings
    EXPECT_EQ((Strings{"first", "a", "x", "x", "b!", "C", "", "far"}), Texts(arr));

    arr.RemoveAt(1, 3);
    arr.RemoveAt(0);
    EXPECT_EQ((Strings{"b!", "C", "", "far"}), Texts(arr));

    MStringArray copy;
    copy.Copy(arr);
    arr[0] = "changed";
    EXPECT_EQ((Strings{"b!", "C", "", "far"}), Texts(copy));

    arr.SetSize(6, 3);
    EXPECT_EQ(6, arr.GetSize());
    EXPECT_EQ(3, arr.m_nGrowBy);
    EXPECT_TRUE(arr[5].IsEmpty());
    arr.SetSize(1);
    EXPECT_EQ((Strings{"changed"}), Texts(arr));
    arr.RemoveAll();
    EXPECT_EQ(0, arr.GetSize());
    EXPECT_EQ(4, copy.GetSize());
}

TEST(StringArrayTest, Wide) {
    UStringArray arr;
    EXPECT_EQ(0, arr.Add(U(u"\uD55C")));
    EXPECT_EQ(1, arr.Add(U(u"two").GetString()));
    arr.InsertAt(1, U(u"mid").GetString(), 2);
    arr.RemoveAt(2);
    ASSERT_EQ(3, arr.GetSize());
    EXPECT_EQ(u"\uD55C", Units(arr[0]));
    EXPECT_EQ(u"mid", Units(arr[1]));
    EXPECT_EQ(u"two", Units(arr[2]));
    // Growing relocates the strings without copying their text.
    const unsigned short* text = arr[0].GetString();
    for (int i = 0; i < 100; ++i) arr.Add(arr[i % 3]);
    EXPECT_EQ(text, arr[0].GetString());
    EXPECT_EQ(u"two", Units(arr[101]));
}

}  // namespace
