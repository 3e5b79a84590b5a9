// The CGI environment services: environment variables, and standard input
// read as raw bytes in binary mode.
#include <gtest/gtest.h>

#include <vorlix/win.h>

#include <string>

#include "platform/cgi_environment.h"

using namespace vorlix::win;

TEST(PlatformEnviron, GetenvSeesSetAndRemovedVariables) {
    testsupport::ScopedEnv env;
    env.Set("VORLIX_TEST_VAR", "a b=c");
    ASSERT_NE(vorlix::win::getenv("VORLIX_TEST_VAR"), nullptr);
    EXPECT_STREQ(vorlix::win::getenv("VORLIX_TEST_VAR"), "a b=c");
    env.Set("VORLIX_TEST_VAR", nullptr);
    EXPECT_EQ(vorlix::win::getenv("VORLIX_TEST_VAR"), nullptr);
}

TEST(PlatformEnviron, StdinInBinaryModeKeepsEveryByte) {
    std::string bytes = "a\r\nb\x1a" "c\n";
    bytes += std::string(1, '\0') + std::string(3000, 'x');
    testsupport::StdinPipe in(bytes);
    int prev = vorlix::win::_setmode(0, _O_BINARY);
    EXPECT_NE(prev, -1);
    std::string got;
    char buf[700];
    int n;
    while ((n = vorlix::win::_read(0, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0);  // the end, not an error
    EXPECT_EQ(got, bytes);
    if (prev != -1) vorlix::win::_setmode(0, prev);
    EXPECT_EQ(vorlix::win::_setmode(-1, _O_BINARY), -1);
}
