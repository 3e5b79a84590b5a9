// MStringArray and UStringArray: the string conveniences over CObjArray.
#include "support.h"

#include <gtest/gtest.h>

#include <string>

using testsupport::U;
using testsupport::Units;

namespace {

std::string Texts(const MStringArray& arr) {
    std::string out;
    for (int i = 0; i < arr.GetSize(); ++i) out += (i ? "|" : "") + std::string(arr[i].GetString());
    return out;
}

TEST(StringArrayTest, EditsInBothForms) {
    MStringArray arr;
    EXPECT_EQ(0, arr.Add("a"));
    EXPECT_EQ(1, arr.Add(MString("b")));
    arr[1] += "!";
    arr.InsertAt(1, "x", 2);
    arr.InsertAt(0, MString("first"));
    arr.InsertAt(6, "far");  // past the end: padded with empty strings
    EXPECT_EQ("first|a|x|x|b!||far", Texts(arr));
    arr.RemoveAt(1, 3);
    arr.RemoveAt(0);
    EXPECT_EQ("b!||far", Texts(arr));
    MStringArray copy;
    copy.Copy(arr);
    arr[0] = "changed";
    EXPECT_EQ("b!||far", Texts(copy));
    arr.SetSize(6, 3);
    EXPECT_EQ(3, arr.m_nGrowBy);
    EXPECT_EQ("changed||far|||", Texts(arr));
}

TEST(StringArrayTest, Wide) {
    UStringArray arr;
    EXPECT_EQ(0, arr.Add(U(u"\uD55C")));
    EXPECT_EQ(1, arr.Add(U(u"two").GetString()));
    arr.InsertAt(1, U(u"mid").GetString(), 2);
    arr.RemoveAt(2);
    ASSERT_EQ(3, arr.GetSize());
    EXPECT_EQ(u"\uD55C|mid|two", Units(arr[0]) + u"|" + Units(arr[1]) + u"|" + Units(arr[2]));
    // Growing relocates the strings without copying their text.
    const unsigned short* text = arr[0].GetString();
    for (int i = 0; i < 100; ++i) arr.Add(arr[i % 3]);
    EXPECT_EQ(text, arr[0].GetString());
    EXPECT_EQ(u"two", Units(arr[101]));
}

}  // namespace
