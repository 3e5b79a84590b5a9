#include <vorlix/vorlix.h>

#include <cstdio>

int main() {
    MString s;
    s.Format("%s %d", "installed", 42);
    CObjArray<MString, const MString&> a;
    a.Add(s);
    std::printf("%s\n", static_cast<const char*>(a[0]));
    return s == "installed 42" ? 0 : 1;
}
