// The XML document over a generated 20 MB data-oriented text (records with
// attributes, short text, comments, one CDATA section, nesting five levels
// deep), written on many lines (CR LF, tab indentation) and on one single
// line, and over a generated 5 MB book whose bytes are mostly text wrapped
// over many lines (xml_book.h; the cases whose names end in _Book):
//   - 8-bit parse into a document from memory, against the general-purpose
//     parsers that are installed building their own DOM (pugixml, tinyxml2,
//     libxml2) and expat's SAX parse as a reference;
//   - 16-bit parse of the same content stored as UTF-16LE with FF FE, read
//     through a file handle (MB/s counted on the UTF-8 size);
//   - writing the parsed document back to a string, against tinyxml2's
//     printer and pugixml's save;
//   - streaming a 200 MB file with a document that refuses each processed
//     record, with the peak memory of a separate process, against the peak
//     of the DOM parsers.
//
// Peak memory is read from VmHWM in /proc/self/status of a fresh process
// (this program run again with --xml-peak-child), so nothing the benchmark
// itself holds is counted; it is reported on Linux only.
#include <vorlix/vorlix.h>

#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "xml_book.h"

#if defined(VORLIX_BENCH_HAVE_PUGIXML)
#include <pugixml.hpp>
#endif
#if defined(VORLIX_BENCH_HAVE_TINYXML2)
#include <tinyxml2.h>
#endif
#if defined(VORLIX_BENCH_HAVE_LIBXML2)
#include <libxml/parser.h>
#include <libxml/tree.h>
#endif
#if defined(VORLIX_BENCH_HAVE_EXPAT)
#include <expat.h>
#endif

#if defined(__linux__)
#include <sys/wait.h>
#endif
#if !defined(_WIN32)
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <climits>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

const size_t kDocumentSize = 20u << 20;
const size_t kBookSize = 5u << 20;
const size_t kStreamSize = 200u << 20;
const int kRecordsPerGroup = 50;

// ---- The documents ----

// Calls sink(text, length) with the document piece by piece until about
// nTarget bytes were produced; returns the number of record elements.
template <typename Sink>
long GenerateDocument(bool bOneLine, size_t nTarget, Sink&& sink) {
    static const char* const kTabs[] = {"", "\t", "\t\t", "\t\t\t", "\t\t\t\t"};
    const char* eol = bOneLine ? "" : "\r\n";
    auto ind = [bOneLine](int n) { return bOneLine ? "" : kTabs[n]; };

    size_t nSize = 0;
    char buf[2048];
    auto emit = [&](int n) {
        if (n > 0) {
            sink(buf, static_cast<size_t>(n));
            nSize += static_cast<size_t>(n);
        }
    };

    emit(std::snprintf(buf, sizeof buf,
                       "<?xml version=\"1.0\" encoding=\"utf-8\"?>%s"
                       "<catalog version=\"2\" source=\"generated\">%s"
                       "%s<!-- records of the benchmark catalog -->%s"
                       "%s<notes><![CDATA[Raw <markup> & \"quotes\" stay as they are]]></notes>%s",
                       eol, eol, ind(1), eol, ind(1), eol));
    long nRecords = 0;
    // nSize grows in emit.
    while (nSize < nTarget) {
        int i = static_cast<int>(nRecords++);
        if (i % kRecordsPerGroup == 0)
            emit(std::snprintf(buf, sizeof buf, "%s<group id=\"g%d\" region=\"%s\">%s", ind(1), i / kRecordsPerGroup,
                               (i / kRecordsPerGroup) % 2 ? "south" : "north", eol));
        emit(std::snprintf(buf, sizeof buf,
                           "%s<record id=\"%d\" kind=\"item\" price=\"%d.%02d\" stock=\"%d\">%s"
                           "%s<name>Record number %d &amp; co</name>%s"
                           "%s<!-- note %d -->%s"
                           "%s<value unit=\"kg\">%d</value>%s"
                           "%s<detail origin=\"Z\xC3\xBCrich\" grade=\"%c\">%s"
                           "%s<part code=\"p%d-1\" weight=\"%d\"/>%s"
                           "%s<part code=\"p%d-2\">Spare part %d</part>%s"
                           "%s</detail>%s"
                           "%s</record>%s",
                           ind(2), i, i % 1000, i % 100, i % 37, eol, ind(3), i, eol, ind(3), i, eol, ind(3), i * 7,
                           eol, ind(3), 'A' + i % 4, eol, ind(4), i, i % 9 + 1, eol, ind(4), i, i, eol, ind(3), eol,
                           ind(2), eol));
        if (i % kRecordsPerGroup == kRecordsPerGroup - 1 || nSize >= nTarget)
            emit(std::snprintf(buf, sizeof buf, "%s</group>%s", ind(1), eol));
    }
    emit(std::snprintf(buf, sizeof buf, "</catalog>%s", eol));
    return nRecords;
}

// A generated document with what a parse of it must find: nCounted
// elements named pszCounted, or nCounted elements in all when it is null.
struct Document {
    std::string text;
    long nCounted;
    const char* pszCounted;
};

Document MakeDocument(bool bOneLine) {
    Document doc;
    doc.text.reserve(kDocumentSize + (64u << 10));
    doc.nCounted =
        GenerateDocument(bOneLine, kDocumentSize, [&doc](const char* p, size_t n) { doc.text.append(p, n); });
    doc.pszCounted = "record";
    return doc;
}

const Document& GetDocument(bool bOneLine) {
    static const Document multi = MakeDocument(false);
    static const Document single = MakeDocument(true);
    return bOneLine ? single : multi;
}

const Document& GetBook() {
    static const Document book = [] {
        Document doc;
        doc.text.reserve(kBookSize + (64u << 10));
        doc.nCounted = BookGenerator(doc.text).Generate(kBookSize).nElements;
        doc.pszCounted = nullptr;
        return doc;
    }();
    return book;
}

// A file in the temporary directory, removed when the program ends.
struct TempFile {
    std::string path;
    bool bOk = false;
    TempFile() = default;
    // Moved, the file goes with the new owner; never copied.
    TempFile(TempFile&& src) noexcept : path(std::move(src.path)), bOk(src.bOk) { src.path.clear(); }
    TempFile& operator=(TempFile&&) = delete;
    ~TempFile() {
        if (!path.empty()) std::remove(path.c_str());
    }
};

bool WriteFile(const std::string& path, const std::string& data) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool bOk = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    return std::fclose(f) == 0 && bOk;
}

// A document as UTF-16 little-endian with FF FE, in a file.
TempFile MakeUtf16File(const Document& doc, const char* name) {
    const std::string& text = doc.text;
    UString wide;
    wide.FromMBC(65001, text.c_str(), static_cast<int>(text.size()));
    std::string bytes;
    bytes.reserve(2 + 2 * static_cast<size_t>(wide.GetLength()));
    bytes += '\xFF';
    bytes += '\xFE';
    const unsigned short* p = wide;
    for (int i = 0; i < wide.GetLength(); ++i) {
        bytes += static_cast<char>(p[i] & 0xFF);
        bytes += static_cast<char>(p[i] >> 8);
    }
    TempFile file;
    file.path = TempPath(name);
    file.bOk = WriteFile(file.path, bytes);
    return file;
}

const TempFile& Utf16File(bool bOneLine) {
    static const TempFile multi = MakeUtf16File(GetDocument(false), "vorlix_bench_xml_u16_lines.xml");
    static const TempFile single = MakeUtf16File(GetDocument(true), "vorlix_bench_xml_u16_one_line.xml");
    return bOneLine ? single : multi;
}

const TempFile& BookUtf16File() {
    static const TempFile file = MakeUtf16File(GetBook(), "vorlix_bench_xml_u16_book.xml");
    return file;
}

// An 8-bit document in a file.
TempFile MakeUtf8File(const Document& doc, const char* name) {
    TempFile file;
    file.path = TempPath(name);
    file.bOk = WriteFile(file.path, doc.text);
    return file;
}

const TempFile& Utf8File(bool bOneLine) {
    static const TempFile multi = MakeUtf8File(GetDocument(false), "vorlix_bench_xml_lines.xml");
    static const TempFile single = MakeUtf8File(GetDocument(true), "vorlix_bench_xml_one_line.xml");
    return bOneLine ? single : multi;
}

const TempFile& BookUtf8File() {
    static const TempFile file = MakeUtf8File(GetBook(), "vorlix_bench_xml_book.xml");
    return file;
}

// The elements named pszName below and with tag, or all of them when it is
// null.
long CountElements(const CXmlTagA& tag, const char* pszName) {
    long n = tag.m_nTagType == XMLTAG_ELEMENT && (!pszName || tag.m_strName == pszName) ? 1 : 0;
    for (int i = 0; i < tag.m_arySubTag.GetSize(); ++i) n += CountElements(tag.m_arySubTag[i], pszName);
    return n;
}

long CountElements(CAnalXmlA& xml, const char* pszName) {
    long n = 0;
    for (int i = 0; i < xml.GetTagCount(); ++i) n += CountElements(xml.GetTag(i), pszName);
    return n;
}

// ---- Streaming ----

// Processes each record as it completes (counting the attributes of its
// subtree) and refuses it, so that its group, and the groups the catalog,
// never keep them.
class CRecordCounter : public CAnalXmlA {
public:
    int OnEndXmlTagA(CXmlTagA& tag, int, long) override {
        if (tag.m_nTagType != XMLTAG_ELEMENT) return 0;
        if (tag.m_strName == "record") {
            ++m_nRecords;
            m_nOptions += CountOptions(tag);
            tag.m_bNoChild = 1;
        } else if (tag.m_strName == "group") {
            tag.m_bNoChild = 1;
        }
        return 0;
    }

    long m_nRecords = 0;
    long m_nOptions = 0;

private:
    static long CountOptions(const CXmlTagA& tag) {
        long n = tag.m_aryOption.GetSize();
        for (int i = 0; i < tag.m_arySubTag.GetSize(); ++i) n += CountOptions(tag.m_arySubTag[i]);
        return n;
    }
};

// ---- Peak memory in a separate process ----

#if defined(__linux__)
long ReadHighWaterKb() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kb = -1;
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, "VmHWM:", 6) == 0) {
            kb = std::strtol(line + 6, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return kb;
}

// The child: parses the file the way mode says and prints
// "<VmHWM before> <VmHWM after> <records or elements seen>" in kB.
int RunPeakChild(const char* mode, const char* path) {
    long before = ReadHighWaterKb();
    long count = -1;
    if (std::strcmp(mode, "stream") == 0) {
        void* h = Byte_OpenFile(path, 0xC0000000, 3, 0);
        if (!h) return 2;
        CRecordCounter xml;
        if (xml.FromString(h, 0)) count = xml.m_nRecords;
        API_CloseFile(h);
    } else if (std::strcmp(mode, "dom") == 0) {
        void* h = Byte_OpenFile(path, 0xC0000000, 3, 0);
        if (!h) return 2;
        CAnalXmlA xml;
        if (xml.FromString(h, 1)) count = CountElements(xml, "record");
        API_CloseFile(h);
#if defined(VORLIX_BENCH_HAVE_PUGIXML)
    } else if (std::strcmp(mode, "pugixml") == 0) {
        pugi::xml_document doc;
        if (doc.load_file(path, pugi::parse_default | pugi::parse_comments | pugi::parse_declaration))
            count = static_cast<long>(doc.child("catalog").select_nodes("group/record").size());
#endif
#if defined(VORLIX_BENCH_HAVE_TINYXML2)
    } else if (std::strcmp(mode, "tinyxml2") == 0) {
        tinyxml2::XMLDocument doc;
        if (doc.LoadFile(path) == tinyxml2::XML_SUCCESS) count = 1;
#endif
#if defined(VORLIX_BENCH_HAVE_LIBXML2)
    } else if (std::strcmp(mode, "libxml2") == 0) {
        xmlDocPtr doc = xmlReadFile(path, nullptr, XML_PARSE_NOBLANKS | XML_PARSE_NONET | XML_PARSE_HUGE);
        if (doc) {
            count = 1;
            xmlFreeDoc(doc);
        }
#endif
    } else {
        return 3;
    }
    long after = ReadHighWaterKb();
    std::printf("%ld %ld %ld\n", before, after, count);
    return count >= 0 ? 0 : 1;
}

struct Peak {
    bool bOk = false;
    double dBaseMB = 0;
    double dPeakMB = 0;
    long nCount = 0;
};

Peak MeasurePeak(const char* mode, const std::string& path) {
    Peak peak;
    int fds[2];
    if (pipe(fds) != 0) return peak;
    std::fflush(stdout);
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return peak;
    }
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        close(fds[1]);
        execl("/proc/self/exe", "vorlix_bench_xml", "--xml-peak-child", mode, path.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string out;
    char buf[256];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    long before = 0, after = 0, count = 0;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
        std::sscanf(out.c_str(), "%ld %ld %ld", &before, &after, &count) == 3) {
        peak.bOk = true;
        peak.dBaseMB = before / 1024.0;
        peak.dPeakMB = after / 1024.0;
        peak.nCount = count;
    }
    return peak;
}
#endif

// ---- 8-bit parse from memory ----
// Each parse case has a data-oriented form (range(0) says whether the
// document is on one line) and a form over the book (_Book).

void SetDocumentBytes(benchmark::State& state, size_t nBytes) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(nBytes));
}

void ParseA(benchmark::State& state, const Document& doc) {
    {
        CAnalXmlA xml;
        if (!xml.FromString(doc.text.c_str(), 1) || CountElements(xml, doc.pszCounted) != doc.nCounted) {
            state.SkipWithError("the document does not parse");
            return;
        }
    }
    for (auto _ : state) {
        CAnalXmlA xml;
        int bOk = xml.FromString(doc.text.c_str(), 1);
        benchmark::DoNotOptimize(bOk);
    }
    SetDocumentBytes(state, doc.text.size());
}

void BM_ParseA(benchmark::State& state) { ParseA(state, GetDocument(state.range(0) != 0)); }
void BM_ParseA_Book(benchmark::State& state) { ParseA(state, GetBook()); }

// Parses the document from a file through a handle, in either width; the
// bytes are counted on the UTF-8 size of the content in both.
template <class Doc>
void ParseFile(benchmark::State& state, const TempFile& file, std::size_t nBytes) {
    if (!file.bOk) {
        state.SkipWithError("cannot write the document");
        return;
    }
    for (auto _ : state) {
        void* h = Byte_OpenFile(file.path.c_str(), 0xC0000000, 3, 0);
        if (!h) {
            state.SkipWithError("cannot open the document");
            break;
        }
        Doc xml;
        int bOk = xml.FromString(h, 1);
        API_CloseFile(h);
        if (!bOk) {
            state.SkipWithError("the document does not parse");
            break;
        }
    }
    SetDocumentBytes(state, nBytes);
}

// The same from an 8-bit file, separating the cost of the handle from that
// of the 16-bit form.
void BM_ParseA_File(benchmark::State& state) {
    bool bOneLine = state.range(0) != 0;
    ParseFile<CAnalXmlA>(state, Utf8File(bOneLine), GetDocument(bOneLine).text.size());
}

void BM_ParseA_File_Book(benchmark::State& state) {
    ParseFile<CAnalXmlA>(state, BookUtf8File(), GetBook().text.size());
}

#if defined(VORLIX_BENCH_HAVE_PUGIXML)
const unsigned kPugiOptions = pugi::parse_default | pugi::parse_comments | pugi::parse_declaration;

void PugixmlParse(benchmark::State& state, const Document& doc) {
    for (auto _ : state) {
        pugi::xml_document xml;
        pugi::xml_parse_result res = xml.load_buffer(doc.text.data(), doc.text.size(), kPugiOptions);
        if (!res) {
            state.SkipWithError(res.description());
            break;
        }
    }
    SetDocumentBytes(state, doc.text.size());
}

void BM_Pugixml_Parse(benchmark::State& state) { PugixmlParse(state, GetDocument(state.range(0) != 0)); }
void BM_Pugixml_Parse_Book(benchmark::State& state) { PugixmlParse(state, GetBook()); }
#endif

#if defined(VORLIX_BENCH_HAVE_TINYXML2)
void Tinyxml2Parse(benchmark::State& state, const Document& doc) {
    for (auto _ : state) {
        tinyxml2::XMLDocument xml;
        if (xml.Parse(doc.text.data(), doc.text.size()) != tinyxml2::XML_SUCCESS) {
            state.SkipWithError(xml.ErrorStr());
            break;
        }
    }
    SetDocumentBytes(state, doc.text.size());
}

void BM_Tinyxml2_Parse(benchmark::State& state) { Tinyxml2Parse(state, GetDocument(state.range(0) != 0)); }
void BM_Tinyxml2_Parse_Book(benchmark::State& state) { Tinyxml2Parse(state, GetBook()); }

// The book parsed and freed by this parser and by tinyxml2 in turn, pair
// after pair in one run, so that both meet the machine in the same state:
// the counters give the spread of tinyxml2's time over this parser's
// (above 1: this parser is faster) over the pairs.
void BM_Book_Pairs_Tinyxml2(benchmark::State& state) {
    const Document& doc = GetBook();
    std::vector<double> ratios;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        {
            CAnalXmlA xml;
            benchmark::DoNotOptimize(xml.FromString(doc.text.c_str(), 1));
        }
        auto t1 = std::chrono::steady_clock::now();
        {
            tinyxml2::XMLDocument xml;
            benchmark::DoNotOptimize(xml.Parse(doc.text.data(), doc.text.size()));
        }
        auto t2 = std::chrono::steady_clock::now();
        ratios.push_back(std::chrono::duration<double>(t2 - t1).count() / std::chrono::duration<double>(t1 - t0).count());
    }
    if (ratios.empty()) return;
    std::sort(ratios.begin(), ratios.end());
    state.counters["ratio_median"] = ratios[ratios.size() / 2];
    state.counters["ratio_p10"] = ratios[ratios.size() / 10];
    state.counters["ratio_p90"] = ratios[ratios.size() * 9 / 10];
}
#endif

#if defined(VORLIX_BENCH_HAVE_LIBXML2)
// bNoBlanks 0: default options (whitespace-only text kept as nodes); 1:
// XML_PARSE_NOBLANKS, which keeps the tree to what the others build.
void Libxml2Parse(benchmark::State& state, const Document& doc, bool bNoBlanks) {
    int options = XML_PARSE_NONET | XML_PARSE_HUGE | (bNoBlanks ? XML_PARSE_NOBLANKS : 0);
    xmlInitParser();
    for (auto _ : state) {
        xmlDocPtr xml =
            xmlReadMemory(doc.text.data(), static_cast<int>(doc.text.size()), "bench.xml", nullptr, options);
        if (!xml) {
            state.SkipWithError("libxml2 does not parse the document");
            break;
        }
        xmlFreeDoc(xml);
    }
    SetDocumentBytes(state, doc.text.size());
}

void BM_Libxml2_Parse(benchmark::State& state) {
    Libxml2Parse(state, GetDocument(state.range(0) != 0), state.range(1) != 0);
}
void BM_Libxml2_Parse_Book(benchmark::State& state) { Libxml2Parse(state, GetBook(), state.range(0) != 0); }
#endif

#if defined(VORLIX_BENCH_HAVE_EXPAT)
void XMLCALL ExpatStart(void* user, const XML_Char*, const XML_Char**) { ++*static_cast<long*>(user); }
void XMLCALL ExpatEnd(void*, const XML_Char*) {}
void XMLCALL ExpatText(void*, const XML_Char*, int) {}

void ExpatSax(benchmark::State& state, const Document& doc) {
    for (auto _ : state) {
        long elements = 0;
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetUserData(parser, &elements);
        XML_SetElementHandler(parser, ExpatStart, ExpatEnd);
        XML_SetCharacterDataHandler(parser, ExpatText);
        if (XML_Parse(parser, doc.text.data(), static_cast<int>(doc.text.size()), 1) != XML_STATUS_OK) {
            state.SkipWithError(XML_ErrorString(XML_GetErrorCode(parser)));
            XML_ParserFree(parser);
            break;
        }
        XML_ParserFree(parser);
        benchmark::DoNotOptimize(elements);
    }
    SetDocumentBytes(state, doc.text.size());
}

void BM_Expat_Sax(benchmark::State& state) { ExpatSax(state, GetDocument(state.range(0) != 0)); }
void BM_Expat_Sax_Book(benchmark::State& state) { ExpatSax(state, GetBook()); }
#endif

// ---- 16-bit parse from a file ----

void BM_ParseU_File(benchmark::State& state) {
    bool bOneLine = state.range(0) != 0;
    ParseFile<CAnalXmlU>(state, Utf16File(bOneLine), GetDocument(bOneLine).text.size());
}

void BM_ParseU_File_Book(benchmark::State& state) {
    ParseFile<CAnalXmlU>(state, BookUtf16File(), GetBook().text.size());
}

// ---- Writing ----
// Bytes are counted on the source document for every writer, so that the
// figures compare times; out_MB is what each one produced.

void BM_WriteA(benchmark::State& state) {
    const Document& doc = GetDocument(false);
    static CAnalXmlA* xml = [&doc] {
        CAnalXmlA* p = new CAnalXmlA;
        p->FromString(doc.text.c_str(), 1);
        return p;
    }();
    size_t nOut = 0;
    for (auto _ : state) {
        MString out;
        xml->ToString(out, INT_MAX);
        nOut = static_cast<size_t>(out.GetLength());
    }
    SetDocumentBytes(state, doc.text.size());
    state.counters["out_MB"] = nOut / 1048576.0;
}

#if defined(VORLIX_BENCH_HAVE_TINYXML2)
void BM_Tinyxml2_Print(benchmark::State& state) {
    const Document& doc = GetDocument(false);
    static tinyxml2::XMLDocument* xml = [&doc] {
        tinyxml2::XMLDocument* p = new tinyxml2::XMLDocument;
        p->Parse(doc.text.data(), doc.text.size());
        return p;
    }();
    size_t nOut = 0;
    for (auto _ : state) {
        tinyxml2::XMLPrinter printer;
        xml->Print(&printer);
        nOut = static_cast<size_t>(printer.CStrSize());
    }
    SetDocumentBytes(state, doc.text.size());
    state.counters["out_MB"] = nOut / 1048576.0;
}
#endif

#if defined(VORLIX_BENCH_HAVE_PUGIXML)
struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override { text.append(static_cast<const char*>(data), size); }
};

void BM_Pugixml_Save(benchmark::State& state) {
    const Document& doc = GetDocument(false);
    static pugi::xml_document* xml = [&doc] {
        pugi::xml_document* p = new pugi::xml_document;
        p->load_buffer(doc.text.data(), doc.text.size(), kPugiOptions);
        return p;
    }();
    size_t nOut = 0;
    for (auto _ : state) {
        StringWriter writer;
        xml->save(writer, "\t", pugi::format_default);
        nOut = writer.text.size();
    }
    SetDocumentBytes(state, doc.text.size());
    state.counters["out_MB"] = nOut / 1048576.0;
}
#endif

// ---- Streaming a 200 MB file ----

void BM_StreamFile(benchmark::State& state) {
    TempFile file;
    file.path = TempPath("vorlix_bench_xml_stream.xml");
    long nRecords = 0;
    size_t nSize = 0;
    if (std::FILE* f = std::fopen(file.path.c_str(), "wb")) {
        std::string chunk;
        chunk.reserve(1u << 20);
        nRecords = GenerateDocument(false, kStreamSize, [&](const char* p, size_t n) {
            chunk.append(p, n);
            if (chunk.size() >= (1u << 20)) {
                std::fwrite(chunk.data(), 1, chunk.size(), f);
                nSize += chunk.size();
                chunk.clear();
            }
        });
        std::fwrite(chunk.data(), 1, chunk.size(), f);
        nSize += chunk.size();
        file.bOk = std::fclose(f) == 0;
    }
    if (!file.bOk) {
        state.SkipWithError("cannot write the streamed file");
        return;
    }
    long nOptions = 0;
    for (auto _ : state) {
        void* h = Byte_OpenFile(file.path.c_str(), 0xC0000000, 3, 0);
        if (!h) {
            state.SkipWithError("cannot open the streamed file");
            break;
        }
        CRecordCounter xml;
        int bOk = xml.FromString(h, 0);
        API_CloseFile(h);
        if (!bOk || xml.m_nRecords != nRecords) {
            state.SkipWithError("the streamed file does not parse");
            break;
        }
        nOptions = xml.m_nOptions;
    }
    SetDocumentBytes(state, nSize);
    state.counters["file_MB"] = nSize / 1048576.0;
    state.counters["records"] = static_cast<double>(nRecords);
    state.counters["attrs"] = static_cast<double>(nOptions);
#if defined(__linux__)
    Peak peak = MeasurePeak("stream", file.path);
    if (peak.bOk && peak.nCount == nRecords) {
        state.counters["base_MB"] = peak.dBaseMB;
        state.counters["peak_MB"] = peak.dPeakMB;
    }
#if defined(VORLIX_BENCH_HAVE_PUGIXML)
    // A DOM of the same file, for comparison.
    Peak dom = MeasurePeak("pugixml", file.path);
    if (dom.bOk) state.counters["pugixml_peak_MB"] = dom.dPeakMB;
#endif
#endif
}

#if defined(__linux__)
// Peak memory of one parse of the 20 MB multi-line document in a fresh
// process; the time shown is meaningless (it includes starting the process).
const char* const kPeakModes[] = {"stream", "dom", "pugixml", "tinyxml2", "libxml2"};

void BM_PeakMemory20MB(benchmark::State& state) {
    const char* mode = kPeakModes[state.range(0)];
    state.SetLabel(mode);
    const TempFile& file = Utf8File(false);
    Peak peak;
    for (auto _ : state) peak = MeasurePeak(mode, file.path);
    if (!peak.bOk) {
        state.SkipWithError("not available");
        return;
    }
    state.counters["base_MB"] = peak.dBaseMB;
    state.counters["peak_MB"] = peak.dPeakMB;
    state.counters["doc_MB"] = GetDocument(false).text.size() / 1048576.0;
}
#endif

}  // namespace

BENCHMARK(BM_ParseA)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#if defined(VORLIX_BENCH_HAVE_PUGIXML)
BENCHMARK(BM_Pugixml_Parse)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif
#if defined(VORLIX_BENCH_HAVE_TINYXML2)
BENCHMARK(BM_Tinyxml2_Parse)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif
#if defined(VORLIX_BENCH_HAVE_LIBXML2)
BENCHMARK(BM_Libxml2_Parse)
    ->ArgNames({"one_line", "noblanks"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond);
#endif
#if defined(VORLIX_BENCH_HAVE_EXPAT)
BENCHMARK(BM_Expat_Sax)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_ParseA_File)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseU_File)->ArgName("one_line")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseA_Book)->Unit(benchmark::kMillisecond);
#if defined(VORLIX_BENCH_HAVE_PUGIXML)
BENCHMARK(BM_Pugixml_Parse_Book)->Unit(benchmark::kMillisecond);
#endif
#if defined(VORLIX_BENCH_HAVE_TINYXML2)
BENCHMARK(BM_Tinyxml2_Parse_Book)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Book_Pairs_Tinyxml2)->Iterations(60)->Unit(benchmark::kMillisecond);
#endif
#if defined(VORLIX_BENCH_HAVE_LIBXML2)
BENCHMARK(BM_Libxml2_Parse_Book)->ArgName("noblanks")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
#endif
#if defined(VORLIX_BENCH_HAVE_EXPAT)
BENCHMARK(BM_Expat_Sax_Book)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_ParseA_File_Book)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseU_File_Book)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteA)->Unit(benchmark::kMillisecond);
#if defined(VORLIX_BENCH_HAVE_TINYXML2)
BENCHMARK(BM_Tinyxml2_Print)->Unit(benchmark::kMillisecond);
#endif
#if defined(VORLIX_BENCH_HAVE_PUGIXML)
BENCHMARK(BM_Pugixml_Save)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(BM_StreamFile)->Unit(benchmark::kMillisecond)->Iterations(2);
#if defined(__linux__)
BENCHMARK(BM_PeakMemory20MB)->ArgName("mode")->DenseRange(0, 4)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif

int main(int argc, char** argv) {
#if defined(__linux__)
    if (argc == 4 && std::strcmp(argv[1], "--xml-peak-child") == 0) return RunPeakChild(argv[2], argv[3]);
#endif
#if defined(__GLIBC__)
    // --xml-warm-heap: the C heap keeps what is freed instead of giving it
    // back to the system, as the library's own heap does. Without it, the
    // parsers whose blocks come from the C heap take every page of their
    // tree from the system again on each iteration, and the comparison
    // measures the cost of page faults on the machine as much as parsing.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--xml-warm-heap") != 0) continue;
        mallopt(M_TRIM_THRESHOLD, INT_MAX);
        mallopt(M_MMAP_THRESHOLD, 32 << 20);  // the largest it takes
        for (int j = i; j + 1 < argc; ++j) argv[j] = argv[j + 1];
        --argc;
        break;
    }
#endif
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
