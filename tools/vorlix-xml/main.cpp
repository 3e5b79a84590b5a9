// vorlix-xml: parses an XML file with the library and writes it back in the
// library's layout, or prints node counts by kind.
//
//   vorlix-xml [--utf16] [--stats] [-o OUT] FILE
//
// A file that begins with FF FE or FE FF is read in the 16-bit form, any
// other in the 8-bit form; --utf16 forces the 16-bit form. A document that
// does not parse is reported with the line and column where the parse
// stopped and the result's name and description. Exit status: 0 on success,
// 1 when the document does not parse, 2 for bad usage or a file that cannot
// be read or written.
#include <vorlix/vorlix.h>

#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

const char kUsage[] =
    "usage: vorlix-xml [--utf16] [--stats] [-o OUT] FILE\n"
    "\n"
    "Parses FILE and writes it back in the library's layout to standard\n"
    "output (16-bit documents as UTF-8), or to OUT in the document's own form.\n"
    "\n"
    "  --utf16   read FILE in the 16-bit form even without a byte order mark\n"
    "  --stats   print node counts by kind and the maximum depth instead\n"
    "  -o OUT    write the document to OUT (replaced if it exists)\n"
    "  --help    print this help\n";

// Where a parse position lies in the file: 1-based line and column. The
// document counts a position as the offset of its line in the file plus the
// column in characters; the first line of a 16-bit document counts from the
// place its text starts (0 behind a byte-order mark). The lines are read
// again the way the document read them, and the one holding the position
// is the one between its start and the next line's.
struct Place {
    long line = 0;
    unsigned long column = 0;
};

Place Locate(const char* path, bool wide, unsigned long pos) {
    Place place;
    void* h = Byte_OpenFile(path, 0x80000000, 3, 0);
    if (!h) return place;
    unsigned long cur = 0;
    int endian = 0;
    if (wide) {
        // The byte order the 16-bit document chooses, and where it starts.
        unsigned char b[3] = {0, 0, 0};
        API_ReadFile(h, b, 2);
        if (b[0] == 0xFF && b[1] == 0xFE) {
            endian = 1;
        } else if (b[0] == 0xFE && b[1] == 0xFF) {
            endian = 2;
        } else {
            API_SeekFile(h, 0, 0);
            if (b[0] == 0 && b[1] != 0) {
                endian = 2;
            } else if (b[0] == 0 || b[1] == 0) {
                endian = 1;
            } else {
                endian = 3;
                API_ReadFile(h, b, 3);
                if (!(b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF)) API_SeekFile(h, 0, 0);
            }
            cur = static_cast<unsigned long>(API_SeekFile(h, 0, 1));
        }
    }
    MString line;
    UString wline;
    for (long n = 1;; ++n) {
        int got = wide ? Uni_Read1LineEndian(h, wline, 1, endian) : Byte_Read1Line(h, line, 1);
        unsigned long next = static_cast<unsigned long>(API_SeekFile(h, 0, 1));
        if (!got || pos < next) {
            place.line = n;
            place.column = pos >= cur ? pos - cur + 1 : 1;
            break;
        }
        cur = next;
    }
    API_CloseFile(h);
    return place;
}

struct Options {
    const char* input = nullptr;
    const char* output = nullptr;
    bool utf16 = false;
    bool stats = false;
};

struct Stats {
    long kinds[8] = {};  // by XMLTAG_* value
    long other = 0;      // kinds outside the known range
    int depth = 0;
};

// Counts the nodes of one subtree; nDepth is the depth of tag itself (1 for
// a top-level node).
template <typename Tag>
void Count(const Tag& tag, int nDepth, Stats& stats) {
    if (tag.m_nTagType >= 0 && tag.m_nTagType < 8) ++stats.kinds[tag.m_nTagType];
    else ++stats.other;
    if (nDepth > stats.depth) stats.depth = nDepth;
    for (int i = 0; i < tag.m_arySubTag.GetSize(); ++i) Count(tag.m_arySubTag[i], nDepth + 1, stats);
}

template <typename Doc>
Stats CountDocument(Doc& doc) {
    Stats stats;
    for (int i = 0; i < doc.GetTagCount(); ++i) Count(doc.GetTag(i), 1, stats);
    return stats;
}

void PrintStats(const Stats& s) {
    std::printf("pi       %ld\n", s.kinds[XMLTAG_PI]);
    std::printf("element  %ld\n", s.kinds[XMLTAG_ELEMENT]);
    std::printf("comment  %ld\n", s.kinds[XMLTAG_COMMENT]);
    std::printf("text     %ld\n", s.kinds[XMLTAG_TEXT]);
    std::printf("cdata    %ld\n", s.kinds[XMLTAG_CDATA]);
    std::printf("declare  %ld\n", s.kinds[XMLTAG_DECLARE]);
    long other = s.other + s.kinds[XMLTAG_NONE] + s.kinds[6];
    if (other) std::printf("other    %ld\n", other);
    std::printf("depth    %d\n", s.depth);
}

bool WriteText(const MString& text) {
    size_t length = static_cast<size_t>(text.GetLength());
    return std::fwrite(text.GetString(), 1, length, stdout) == length;
}

// 16-bit text goes to standard output as UTF-8.
bool WriteText(const UString& text) {
    MString utf8;
    utf8.FromUnicode(65001, text, text.GetLength());
    return WriteText(utf8);
}

// Writes the document to a fresh file; opening with create never empties an
// existing file, so it is removed first.
template <typename Doc>
bool WriteFile(const Doc& doc, const char* path, int nDepth) {
    std::remove(path);
    void* h = Byte_OpenFile(path, 0xC0000000, 3, 1);
    if (!h) return false;
    doc.ToString(h, nDepth);
    API_CloseFile(h);
    return true;
}

// Parses the open file into doc and writes the result; returns the exit status.
template <typename Doc, typename String>
int Process(Doc& doc, void* hFile, const Options& opt, bool wide) {
    int ok = doc.FromString(hFile, 1);
    API_CloseFile(hFile);
    if (ok != 1) {
        int result = doc.m_nParseResult;
        Place place = Locate(opt.input, wide, doc.m_dwParsePos);
        std::fprintf(stderr, "vorlix-xml: %s:%ld:%lu: %s (%d): %s (position %lu)\n", opt.input, place.line,
                     place.column, vorlix::XmlResultName(result), result, vorlix::XmlResultText(result),
                     doc.m_dwParsePos);
        return 1;
    }
    Stats stats = CountDocument(doc);
    if (opt.stats) {
        PrintStats(stats);
        return 0;
    }
    // Deep enough to write every level of the tree.
    const int nDepth = stats.depth + 1;
    if (opt.output) {
        if (WriteFile(doc, opt.output, nDepth)) return 0;
        std::fprintf(stderr, "vorlix-xml: cannot write %s\n", opt.output);
        return 2;
    }
    String text;
    doc.ToString(text, nDepth);
    bool written = WriteText(text);
    if (std::fflush(stdout) != 0 || !written) {
        std::fprintf(stderr, "vorlix-xml: cannot write to standard output\n");
        return 2;
    }
    return 0;
}

int Usage(const char* problem, const char* arg = "") {
    std::fprintf(stderr, "vorlix-xml: %s%s\n\n%s", problem, arg, kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // The document carries its own CR LF line ends.
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    Options opt;
    bool endOfOptions = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (!endOfOptions && arg[0] == '-' && arg[1] != '\0') {
            if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
                std::fputs(kUsage, stdout);
                return 0;
            } else if (std::strcmp(arg, "--utf16") == 0) {
                opt.utf16 = true;
            } else if (std::strcmp(arg, "--stats") == 0) {
                opt.stats = true;
            } else if (std::strcmp(arg, "-o") == 0) {
                if (++i == argc) return Usage("-o needs a file name");
                opt.output = argv[i];
            } else if (std::strcmp(arg, "--") == 0) {
                endOfOptions = true;
            } else {
                return Usage("unknown option ", arg);
            }
        } else if (opt.input) {
            return Usage("more than one input file");
        } else {
            opt.input = arg;
        }
    }
    if (!opt.input) return Usage("no input file");
    if (opt.stats && opt.output) return Usage("--stats writes no document; drop -o");

    if (!Byte_ExistFile(opt.input)) {
        std::fprintf(stderr, "vorlix-xml: %s: no such file (or not a regular file)\n", opt.input);
        return 2;
    }
    void* h = Byte_OpenFile(opt.input, 0x80000000, 3, 0);
    if (!h) {
        std::fprintf(stderr, "vorlix-xml: %s: cannot open the file\n", opt.input);
        return 2;
    }
    unsigned char mark[2] = {0, 0};
    DWORD got = API_ReadFile(h, mark, 2);
    if (API_SeekFile(h, 0, 0) != 0) {
        API_CloseFile(h);
        std::fprintf(stderr, "vorlix-xml: %s: cannot read the file\n", opt.input);
        return 2;
    }
    bool wide =
        opt.utf16 || (got == 2 && ((mark[0] == 0xFF && mark[1] == 0xFE) || (mark[0] == 0xFE && mark[1] == 0xFF)));
    if (wide) {
        CAnalXmlU doc;
        return Process<CAnalXmlU, UString>(doc, h, opt, true);
    }
    CAnalXmlA doc;
    return Process<CAnalXmlA, MString>(doc, h, opt, false);
}
