// A short tour of the library: run it to see what each part does.
#include <vorlix/vorlix.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

void Heading(const char* title) { std::printf("\n== %s ==\n", title); }

// Prints a 16-bit string as UTF-8.
void PrintU(const char* label, const UString& s) {
    MString utf8;
    utf8.FromUnicode(65001, s);
    std::printf("%s%s\n", label, static_cast<const char*>(utf8));
}

// A new file (made again if it is there) holding n bytes of text, open for
// reading and writing at its start; null, and a line saying so, when it
// cannot be made.
void* NewFileWith(const char* path, const char* text, DWORD n) {
    std::remove(path);
    void* h = Byte_OpenFile(path, 0xC0000000, 3, 1);
    if (!h) {
        std::printf("cannot create %s\n", path);
        return nullptr;
    }
    API_WriteFile(h, text, n);
    API_SeekFile(h, 0, 0);
    return h;
}

void Strings() {
    Heading("strings");
    MString greeting = "Hello";
    MString copy = greeting;  // shares the buffer: copying costs the same at any length
    copy += ", world";
    std::printf("%s / %s (copies share until one changes)\n", static_cast<const char*>(greeting),
                static_cast<const char*>(copy));

    MString s;
    s.Format("%-8s|%05d|%x|%c", "left", 42, 255, '!');
    std::printf("Format: %s\n", static_cast<const char*>(s));

    UString wide;
    wide.Format(u"%s and %hs: %d", u"UTF-16", "8-bit text", 16);
    PrintU("16-bit Format: ", wide);

    UString korean;
    korean.FromMBC(65001, "\xED\x95\x9C\xEA\xB5\xAD\xEC\x96\xB4");  // "Korean" in Korean, UTF-8
    MString cp949;
    cp949.FromUnicode(949, korean);
    std::printf("3 Hangul syllables: %d UTF-16 units, %d bytes in code page 949\n", korean.GetLength(),
                cp949.GetLength());

    MString path = "C:\\logs\\2026\\app.log";
    path.Replace("\\", "/");
    std::printf("Replace: %s, extension at %d\n", static_cast<const char*>(path), path.ReverseFind('.'));
}

void Tokens() {
    Heading("tokens and splitting");
    const char* line = "<item id=\"7\" kind=new/>";
    MString token;
    int index;
    long pos = 0;
    std::printf("tokens of %s:", line);
    while ((pos = Byte_GetTokenOpt(line, pos, token, "<?!/>=& \t", index, -1, 3)) >= 0)
        std::printf(" [%s%s]", static_cast<const char*>(token), index >= 0 ? "*" : "");
    std::printf("  (* marks a delimiter)\n");

    MStringArray fields;
    int n = Byte_GetSplitToken("2026/12/05 21:30", 0, "/:", fields);
    std::printf("split into %d:", n);
    for (int i = 0; i < fields.GetSize(); ++i) std::printf(" '%s'", static_cast<const char*>(fields[i]));
    std::printf("\n");

    MString dir;
    Byte_GetPathPart("/var/log/app/today.log", dir, 3);
    std::printf("directory part: %s\n", static_cast<const char*>(dir));
}

void Files() {
    Heading("files and lines");
    std::string path = "vorlix_tour.txt";
    const char text[] = "first line\r\nsecond line\rthird line\n\nlast line without an end";
    void* h = NewFileWith(path.c_str(), text, sizeof text - 1);
    if (!h) return;
    MString line;
    int n = 0;
    while (Byte_Read1Line(h, line, 1))
        std::printf("line %d at offset %3ld: '%s'\n", ++n, API_SeekFile(h, 0, 1), static_cast<const char*>(line));
    API_CloseFile(h);
    std::remove(path.c_str());
}

void Arrays() {
    Heading("object array");
    CObjArray<MString, const MString&> names;
    std::printf("capacity while appending 60 names:");
    int capacity = 0;
    for (int i = 0; i < 60; ++i) {
        MString name;
        name.Format("name%d", i);
        names.Add(name);
        if (names.m_nMaxSize != capacity) std::printf(" %d", capacity = names.m_nMaxSize);
    }
    names.InsertAt(1, MString("inserted"));
    names.RemoveAt(0);
    std::printf("\nfirst two now: %s, %s\n", static_cast<const char*>(names[0]), static_cast<const char*>(names[1]));
}

void Tokenizer() {
    Heading("token data stream");
    const char* xml =
        "<?xml version=\"1.0\"?>\r\n"
        "<note date=\"2026-12-05\">\r\n"
        "\t<to>Ada</to>\r\n"
        "\t<!-- a comment\r\n  over two lines -->\r\n"
        "</note>\r\n";
    CTokenDataStreamA stream(xml, 0);
    const char* delims = "<?!/>=& \t";
    MString token, text;
    int delim;
    stream.GetToken(token, delims, delim);  // "<"
    stream.GetToken(token, delims, delim);  // "?"
    stream.SkipCurLine(text);
    std::printf("declaration rest: %s\n", static_cast<const char*>(text));

    stream.GetToken(token, delims, delim);  // "<"
    stream.GetToken(token, delims, delim);  // "note"
    std::printf("element %s at position %lu\n", static_cast<const char*>(token), stream.GetTokenPos());
    stream.GetToken(token, delims, delim);         // "date"
    stream.GetToken(token, delims, delim);         // "="
    stream.GetTokenToDelimChar('"', token, 0, 1);  // the opening quote
    stream.GetTokenToDelimChar('"', token, 0, 0);
    std::printf("attribute date = %s\n", static_cast<const char*>(token));

    // Look ahead, then take the reads back.
    CTokPosStackItemA here = stream.GetCurTokenStack();
    std::printf("the next four tokens:");
    for (int i = 0; i < 4; ++i) {
        stream.GetToken(token, delims, delim);
        std::printf(" %s", static_cast<const char*>(token));
    }
    stream.GetTokenBack(3);
    stream.GetToken(token, delims, delim);
    std::printf("; after GetTokenBack(3) the next one is %s again\n", static_cast<const char*>(token));
    stream.RewindToStack(here);

    // A comment that spans lines: the text up to a delimiter string.
    while (stream.GetToken(token, delims, delim) && token != "!") {}
    stream.ReadChar(token, 2);  // "--"
    stream.GetTokenToDelimStr("-->", text, 1, 0);
    std::printf("comment: [%s]\n", static_cast<const char*>(text));
}

// Counts the records of a document as they complete, keeping none of them.
class RecordCounter : public CAnalXmlA {
public:
    int m_nRecords = 0;
    int OnEndXmlTagA(CXmlTagA& tag, int nLevel, long) override {
        if (nLevel == 1 && tag.m_nTagType == XMLTAG_ELEMENT) {
            ++m_nRecords;
            tag.m_bNoChild = 1;  // the parent will not keep it
        }
        return 0;
    }
};

void Xml() {
    Heading("XML");
    const char* sample =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
        "<library owner=\"tour\">\r\n"
        "  <book id=\"1\" lang=en>Dune &amp; more</book>\r\n"
        "  <!-- on loan -->\r\n"
        "  <book id=\"2\"><![CDATA[<raw> text]]></book>\r\n"
        "</library>\r\n";
    CAnalXmlA doc;
    if (!doc.FromString(sample, 1)) {
        std::printf("parse failed: result %d at %lu\n", doc.m_nParseResult, doc.m_dwParsePos);
        return;
    }
    CXmlTagA& library = doc.GetTag(1);
    std::printf("%d top-level nodes; <%s> has %d books\n", doc.GetTagCount(),
                static_cast<const char*>(library.m_strName), CAnalXmlA::GetTagCount(library, "BOOK"));

    // Edit an attribute, then add a node.
    int start = 0;
    library.FindXmlTag("book", start);
    library.m_arySubTag[start].UpdateOption("lang", "fr");
    CXmlTagA book;
    book.m_strName = "book";
    book.m_nTagType = XMLTAG_ELEMENT;
    book.m_nLevel = 1;
    book.UpdateOption("id", "3");
    book.UpdateOption("title", "Q & A");
    book.UpdateOption("year", "2026");
    library.AddXmlTag(book);

    MString out;
    doc.ToString(out, 100);
    std::printf("written back:\n%s", static_cast<const char*>(out));

    RecordCounter counter;
    counter.FromString(sample, 0);
    std::printf("streaming: %d books seen, %d nodes kept\n", counter.m_nRecords, counter.GetTagCount());
}

void Time() {
    Heading("time");
    MTime t(2026, 12, 5, 21, 30, 0);
    std::printf("2026-12-05 21:30:00 local is %ld seconds since 1970; day of week %d\n", t.GetTime(), t.GetDayOfWeek());
    MTime now = MTime::GetTickCount();
    std::printf("now: %04d-%02d-%02d %02d:%02d:%02d\n", now.GetYear(), now.GetMonth(), now.GetDay(), now.GetHour(),
                now.GetMinute(), now.GetSecond());
}

void TextUtilities() {
    Heading("configuration files, HTTP dates, string arrays");
    // A configuration file with comments: the reader skips "//" lines and
    // the indentation, and keeps blank lines and trailing comments.
    std::string path = "vorlix_tour.conf";
    const char conf[] =
        "// server settings\r\n"
        "  host = example.org\r\n"
        "    // port = 80\r\n"
        "\r\n"
        "  port = 8080   // the test port\r\n"
        "tags = a,,b\r\n";
    void* h = NewFileWith(path.c_str(), conf, sizeof conf - 1);
    if (!h) return;
    MString line;
    MStringArray parts;
    while (Byte_Read1LineSkipComment(h, line)) {
        // key, "=", value: blanks split without becoming entries.
        int n = Byte_GetSplitTokenEx(line, 0, " =", parts, 1, 0, 0);
        std::printf("%d tokens:", n);
        for (int i = 0; i < n; ++i) std::printf(" [%s]", static_cast<const char*>(parts[i]));
        std::printf("\n");
    }
    API_CloseFile(h);
    std::remove(path.c_str());

    MStringArray fields;
    Byte_GetSplitTokenEx("a,,b,", 0, ",", fields, 1, 1, 0);
    std::printf("\"a,,b,\" with separators and empty fields: %d entries\n", fields.GetSize());

    // An HTTP date (GMT) and an asctime date (local time).
    MTime t;
    if (Byte_ParsorStrTime("Sun, 06 Nov 1994 08:49:37 GMT", t))
        std::printf("Sun, 06 Nov 1994 08:49:37 GMT -> %ld (local %04d-%02d-%02d %02d:%02d)\n", t.GetTime(), t.GetYear(),
                    t.GetMonth(), t.GetDay(), t.GetHour(), t.GetMinute());
    std::printf("RFC 850 dates are refused: %d\n", Byte_ParsorStrTime("Sunday, 06-Nov-94 08:49:37 GMT", t));
    std::printf("2026/12/05/21:30 -> %ld\n", Byte_String2Time("2026/12/05/21:30"));

    // Arrays: sort and search ignoring case, keep the last of duplicates.
    MStringArray names;
    const char* items[] = {"pear", "Apple", "fig", "apple", "Fig"};
    for (const char* item : items) names.Add(item);
    std::printf("unique: %d left;", Byte_MakeUniqAry(names));
    Byte_SortStringAry(names);
    for (int i = 0; i < names.GetSize(); ++i) std::printf(" %s", static_cast<const char*>(names[i]));
    std::printf("; FIG at %d\n", Byte_FindInSortedAry(names, "FIG"));
}

// ---- File system: a nested directory under a temporary path, listed with the finder ----

void FileSystem() {
    Heading("file system");
    const char* tmp = std::getenv("TMPDIR");
    if (!tmp || !*tmp) tmp = std::getenv("TEMP");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorlix_tour_dir";
    std::string logFile = base + "/logs/2026/12/app.log";
    // 1: the last part is a file name, so logs/2026/12 is made and app.log is not.
    if (!Byte_MakeDirectory(logFile.c_str(), 1)) {
        std::printf("cannot create the directories of %s\n", logFile.c_str());
        return;
    }
    void* h = Byte_OpenFile(logFile.c_str(), 0xC0000000, 3, 1);
    API_WriteFile(h, "started\n", 8);
    API_CloseFile(h);
    std::printf("made %s: %s\n", (base + "/logs/2026/12").c_str(),
                Byte_IsDirectory((base + "/logs/2026/12").c_str()) ? "a directory" : "missing");

    CFileFindA find;
    std::string pattern = base + "/logs/2026/12/*.*";
    for (int more = find.FindFile(pattern.c_str()); more;) {
        more = find.FindNext();
        if (find.IsDots()) continue;
        MTime written;
        find.GetLastWriteTime(written);
        std::printf("%-8s %5lld bytes  %s  written %04d-%02d-%02d  title '%s'\n",
                    static_cast<const char*>(find.GetFileName()), find.GetLength64(),
                    find.IsDirectory() ? "dir " : "file", written.GetYear(), written.GetMonth(), written.GetDay(),
                    static_cast<const char*>(find.GetFileTitle()));
        std::printf("         %s\n", static_cast<const char*>(find.GetFileURL()));
    }
    std::printf("root of the search: %s\n", static_cast<const char*>(find.GetRoot()));

    MString ini;
    Byte_GetDefaultFilePath(ini, "tour.ini");
    std::printf("this program runs from %s; a file beside it: %s\n", Byte_GetModulePath(),
                static_cast<const char*>(ini));
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
}

// ---- Web helpers: a query, a header block and a URL ----

void Web() {
    Heading("web helpers");
    CCgiParam query;
    query.SetArgs("name=J%C3%BCrgen+M&lang=en*x", 1);  // decoded: "+" and %hh
    std::printf("query: %d pairs, name=%s, keyless %s=%s\n", query.GetParamSum(),
                static_cast<const char*>(query.GetValue("NAME")), static_cast<const char*>(query.GetKeyValue(2)),
                static_cast<const char*>(query.GetDataValue(2)));
    query.UpdateValue("lang", "ko");
    query.MoveToLast("name");
    std::printf("edited and rebuilt with the separator met last: %s\n", query.UpdateArgBuf());

    CHttpHeader header;
    header.Setup(
        "GET /search?q=xml&page=2 HTTP/1.1\r\nHost: example.test\r\n"
        "Content-Type: text/html; charset=EUC-KR\r\n\r\nthe body is not read",
        0, 1);
    std::printf("request: %s %s %s, %d query pairs, code page %d\n", static_cast<const char*>(header.m_strMethod),
                static_cast<const char*>(header.m_strUri), static_cast<const char*>(header.m_strVersion),
                header.m_cgiParam.GetParamSum(), header.GetCodePage());
    header.UpdateHeaderValue("Accept", "text/plain");
    MString block;
    header.ToHeaderString(block, 1);
    std::printf("written back:\n%s", static_cast<const char*>(block));

    MString scheme, host, path, part;
    unsigned short port;
    Byte_ParsorUrl("http://Example.TEST:8080/docs/Guide.html?ch=2", scheme, host, path, part, port);
    std::printf("URL parts: %s | %s | %u | %s | %s\n", static_cast<const char*>(scheme), static_cast<const char*>(host),
                port, static_cast<const char*>(path), static_cast<const char*>(part));
    MString url = "HTTP://Example.TEST/Docs/?b=2 &a=\"x&y\"";
    Byte_StandardUrl(url, 1);
    std::printf("standard form: %s\n", static_cast<const char*>(url));
    unsigned char ip[4];
    Byte_IPStrToIPByte("192.168.0.300", ip);
    std::printf("192.168.0.300 as bytes: %u %u %u %u\n", ip[0], ip[1], ip[2], ip[3]);
}

// ---- Dated logs: a file per hour under a temporary directory, and the manager ----

void DatedLogs() {
    Heading("dated logs");
    const char* tmp = std::getenv("TMPDIR");
    if (!tmp || !*tmp) tmp = std::getenv("TEMP");
    std::string base = std::string(tmp && *tmp ? tmp : "/tmp") + "/vorlix_tour_logs";

    // Layout 4: base/YYYY/YYYYMM/YYYYMMDD/YYYYMMDD_name_HH.log, a new file
    // each hour. Ask for the handle before each record: within the hour it
    // costs no file-system call, and the next hour gets its own file.
    CLogFileA log;
    for (int i = 1; i <= 3; ++i) {
        void* h = log.OpenLogFile(base.c_str(), "tour", 4, 0);
        if (!h) {
            std::printf("cannot open a log under %s\n", base.c_str());
            return;
        }
        MString record;
        record.Format("record %d\n", i);
        API_WriteFile(h, static_cast<const char*>(record), static_cast<DWORD>(record.GetLength()));
    }
    std::printf("wrote 3 records to %s\n", static_cast<const char*>(log.m_strFilePath));
    log.CloseLogFile();

    // The manager keeps the files open by name; the 16-bit one starts each
    // new file with FF FE.
    CLogFileMgrU logs;
    UString wideBase;
    wideBase.FromMBC(65001, (base + "/wide").c_str());
    logs.SetBaseLogFileDir(wideBase);
    void* h = logs.OpenLogFile(UString(u"access"), 2, 0);
    API_WriteFile(h, u"GET /\r\n", 14);
    PrintU("16-bit log: ", logs.m_aLogFile[0].m_strFilePath);
    logs.CloseAllFile();

    std::error_code ec;
    std::filesystem::remove_all(base, ec);
}

}  // namespace

int main() {
    std::printf("Vorlix %d.%d.%d tour\n", VORLIX_VERSION_MAJOR, VORLIX_VERSION_MINOR, VORLIX_VERSION_PATCH);
    Strings();
    Tokens();
    Tokenizer();
    Xml();
    Files();
    Arrays();
    Time();
    TextUtilities();
    FileSystem();
    Web();
    DatedLogs();
    return 0;
}
