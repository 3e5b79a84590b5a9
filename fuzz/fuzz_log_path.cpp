// The dated log file's paths for fuzz-chosen base directories, names,
// layout numbers and times, in both widths, against the same paths made
// with Format from the layouts' printf texts and MTime's own calendar
// queries.
//
// Input: byte 0 is the layout (a signed byte, so numbers outside 1 to 5
// come up), bytes 1 to 8 the time in seconds (little-endian, signed; far
// times the platform cannot convert give all fields 0), and the rest holds
// the base directory and the name, split at the first NUL. The 8-bit form
// reads them as bytes, the 16-bit form as little-endian pairs of bytes.
//
// Checks: the path builder writes only into the room it reserved (the
// sanitizers) and gives exactly the text of the printf formats.
#include <vorlix/base/string.h>
#include <vorlix/base/time.h>
#include <vorlix/log/logfile.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

// The layouts as printf texts, with the platform's separator for "\".
const char* const kFormats[] = {
    "%s\\%s",
    "%s\\%02d%02d%02d_%s",
    "%s\\%02d%02d%02d\\%02d_%s",
    "%s\\%04d\\%04d%02d\\%04d%02d%02d\\%04d%02d%02d_%s_%02d.log",
    "%s\\%04d\\%04d%02d\\%04d%02d%02d\\%02d\\%02d\\%04d%02d%02d_%s_%02d%02d%02d.log",
};

template <class Ch>
vorlix::BasicString<Ch> FormatText(int nLogType) {
    const char* text = kFormats[nLogType >= 2 && nLogType <= 5 ? nLogType - 1 : 0];
    vorlix::BasicString<Ch> out;
    for (const char* p = text; *p; ++p) {
#if defined(_WIN32)
        out += static_cast<Ch>(*p);
#else
        out += static_cast<Ch>(*p == '\\' ? '/' : *p);
#endif
    }
    return out;
}

template <class Ch>
void Check(const std::vector<Ch>& base, const std::vector<Ch>& name, int nLogType, const MTime& tm) {
    vorlix::BasicString<Ch> path, expected;
    vorlix::BasicLogFile<Ch>::GetLogFilePath(path, base.data(), name.data(), nLogType, tm);

    const vorlix::BasicString<Ch> fmt = FormatText<Ch>(nLogType);
    const int y = tm.GetYear(), mo = tm.GetMonth(), d = tm.GetDay();
    const int h = tm.GetHour(), mi = tm.GetMinute(), s = tm.GetSecond();
    const Ch* b = base.data();
    const Ch* n = name.data();
    switch (nLogType) {
    case 2: expected.Format(fmt, b, y % 100, mo, d, n); break;
    case 3: expected.Format(fmt, b, y % 100, mo, d, h, n); break;
    case 4: expected.Format(fmt, b, y, y, mo, y, mo, d, y, mo, d, n, h); break;
    case 5: expected.Format(fmt, b, y, y, mo, y, mo, d, h, mi, y, mo, d, n, h, mi, s); break;
    default: expected.Format(fmt, b, n); break;
    }
    if (path != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9) return 0;
    const int nLogType = static_cast<std::int8_t>(data[0]);
    std::uint64_t secs = 0;
    for (int i = 0; i < 8; ++i) secs |= static_cast<std::uint64_t>(data[1 + i]) << (8 * i);
    const MTime tm(static_cast<long>(static_cast<std::int64_t>(secs)));
    data += 9;
    size -= 9;

    // 8-bit: the bytes, split at the first NUL.
    std::vector<char> base, name;
    std::size_t i = 0;
    for (; i < size && data[i]; ++i) base.push_back(static_cast<char>(data[i]));
    for (++i; i < size; ++i) name.push_back(static_cast<char>(data[i]));
    base.push_back(0);
    name.push_back(0);
    Check(base, name, nLogType, tm);

    // 16-bit: pairs of bytes, split at the first zero unit.
    std::vector<unsigned short> wbase, wname;
    std::vector<unsigned short>* part = &wbase;
    for (std::size_t k = 0; k + 1 < size; k += 2) {
        unsigned short u = static_cast<unsigned short>(data[k] | (data[k + 1] << 8));
        if (u == 0 && part == &wbase) part = &wname;
        else part->push_back(u);
    }
    wbase.push_back(0);
    wname.push_back(0);
    Check(wbase, wname, nLogType, tm);
    return 0;
}
