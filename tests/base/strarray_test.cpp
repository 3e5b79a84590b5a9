// MStringArray and UStringArray: the string conveniences over CObjArray.
#include "support.h"

#include <gtest/gtest.h>

#include <string>

using testsupport::U;

namespace {

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

TEST(StringArrayTest, WideGrowthRelocatesTheText) {
    UStringArray arr;
    arr.Add(U(u"\uD55C"));
    const unsigned short* text = arr[0].GetString();
    for (int i = 0; i < 100; ++i) arr.Add(arr[0].GetString());
    EXPECT_EQ(text, arr[0].GetString());
}

}  // namespace
