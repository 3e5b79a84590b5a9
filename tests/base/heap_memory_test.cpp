// Memory goes back to the system: after a tree of more than 200 MB is
// freed, the process's resident memory falls to within 80 MB of what it
// was before the parse without any call, and to within 16 MB after
// vorlix::ReleaseUnusedMemory(). Resident memory is read from
// /proc/self/statm, so the test runs on Linux only.
#include <vorlix/vorlix.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

#if defined(__linux__)
long ResidentMB() {
    std::FILE* f = std::fopen("/proc/self/statm", "r");
    if (!f) return -1;
    long nSize = 0, nResident = -1;
    if (std::fscanf(f, "%ld %ld", &nSize, &nResident) != 2) nResident = -1;
    std::fclose(f);
    return nResident < 0 ? -1 : nResident * 4096 / (1024 * 1024);
}

// Records of a catalog in groups of a hundred: attributes, short texts,
// a comment; about nBytes of text.
std::string MakeCatalog(std::size_t nBytes) {
    std::string text;
    text.reserve(nBytes + 1024);  // one block: the C heap's own bounds stay as they are
    text += "<?xml version=\"1.0\"?>\r\n<catalog>\r\n";
    char buf[512];
    for (int i = 0; text.size() < nBytes; ++i) {
        if (i % 100 == 0) text += i ? "\t</group>\r\n\t<group>\r\n" : "\t<group>\r\n";
        int n = std::snprintf(buf, sizeof buf,
                              "\t\t<record id=\"%d\" kind=\"item\" price=\"%d.%02d\">\r\n"
                              "\t\t\t<name>Record number %d</name>\r\n"
                              "\t\t\t<!-- note %d -->\r\n"
                              "\t\t\t<value unit=\"kg\">%d</value>\r\n"
                              "\t\t</record>\r\n",
                              i, i % 1000, i % 100, i, i, i * 7);
        text.append(buf, static_cast<std::size_t>(n));
    }
    text += "\t</group>\r\n</catalog>\r\n";
    return text;
}
#endif

}  // namespace

TEST(HeapMemory, ATreeOf200MBGivesItsMemoryBack) {
#if !defined(__linux__)
    GTEST_SKIP() << "resident memory is read from /proc/self/statm, which only Linux has";
#else
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's shadow memory grows with every page touched and is not given back";
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
    GTEST_SKIP() << "ThreadSanitizer's shadow memory grows with every page touched and is not given back";
#endif
#endif
    if (!vorlix::detail::GetBlockHeapStats().bSlabs)
        GTEST_SKIP() << "every block comes from the C heap (a sanitizer build or VORLIX_SYSTEM_HEAP), "
                        "which gives memory back by rules of its own";
    // Tests run before this one in the same process may have repeated big
    // jobs, after which the heap keeps more for reuse: this one starts as a
    // program that has not.
    vorlix::ReleaseUnusedMemory();
    const std::string text = MakeCatalog(std::size_t(42) << 20);
    const long nBefore = ResidentMB();
    ASSERT_GT(nBefore, 0);
    {
        CAnalXmlA xml;
        ASSERT_EQ(xml.FromString(text.c_str(), 1), 1);
        ASSERT_GE(ResidentMB() - nBefore, 200) << "the tree is smaller than the test needs";
    }
    EXPECT_LE(ResidentMB() - nBefore, 80) << "after the tree was freed";
    vorlix::ReleaseUnusedMemory();
    EXPECT_LE(ResidentMB() - nBefore, 16) << "after ReleaseUnusedMemory()";
#endif
}
