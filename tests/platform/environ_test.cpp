// The CGI environment services: environment variables, and standard input
// read as raw bytes in binary mode.
#include <gtest/gtest.h>

#include <vorlix/win.h>

#include "platform/cgi_environment.h"

using namespace vorlix::win;  // _O_BINARY: a macro on Windows

TEST(PlatformEnviron, VariablesAndBinaryStdin) {
    testsupport::ScopedEnv env;
    env.Set("VORLIX_TEST_VAR", "a b=c");
    EXPECT_STREQ(vorlix::win::getenv("VORLIX_TEST_VAR"), "a b=c");
    env.Set("VORLIX_TEST_VAR", nullptr);
    EXPECT_EQ(vorlix::win::getenv("VORLIX_TEST_VAR"), nullptr);

    std::string bytes = std::string(
                            "a\r\nb\x1a"
                            "c\n\0",
                            7) +
                        std::string(3000, 'x');
    testsupport::StdinPipe in(bytes);
    int prev = vorlix::win::_setmode(0, _O_BINARY);
    EXPECT_NE(prev, -1);
    std::string got;
    char buf[700];
    int n;
    while ((n = vorlix::win::_read(0, buf, sizeof buf)) > 0) got.append(buf, static_cast<std::size_t>(n));
    EXPECT_EQ(n, 0);  // the end, not an error
    EXPECT_EQ(got, bytes);
    vorlix::win::_setmode(0, prev);
}
