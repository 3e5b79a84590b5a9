// A short tour of what the library does so far.
#include <vorlix/vorlix.h>

#include <cstdio>

int main() {
    MString s = "Hello";
    s += ", world";
    std::printf("%s (%d characters)\n", (const char*)s, s.GetLength());
    return 0;
}
