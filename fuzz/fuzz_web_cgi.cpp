// Feeds arbitrary bytes to CCgiParam::SetArgs, as a query text and as a
// CGI environment, then edits and rebuilds the pairs.
//
// The first byte picks the mode. Text mode parses the rest with and
// without decoding. Environment mode reads the rest as lines: the request
// method, the query string, the content length and then the body, which
// standard input delivers through a pipe. A length of more than a mebibyte
// is cut to one here, so that the fuzzer's memory limit does not trip on
// the room a huge announced length takes; lengths past what a string can
// hold are covered by the unit tests.
//
// Text mode also checks the items the query parse reads, with its two
// separator sets built at compile time, against the general tokenizer's
// with the same sets built at run time, item by item.
#include <vorlix/vorlix.h>

#include "../src/web/query_sets.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

namespace {

void Check(bool b) {
    if (!b) __builtin_trap();
}

// The pairs keep their invariants through edits and a rebuild.
void Exercise(CCgiParam& p) {
    Check(p.m_aryKey.GetSize() == p.m_aryData.GetSize());
    int n = p.GetParamSum();
    if (n > 0) {
        MString key = p.GetKeyValue(0);
        Check(p.UpdateValue(key, "v") == 1);
        Check(p.MoveToLast(key) == 1);
        Check(p.GetParamSum() == n);
    }
    p.GetValue("a");
    p.GetDataValue(n);
    const char* text = p.UpdateArgBuf();
    Check(text == p.GetArgBuf());
    CCgiParam copy(p);
    Check(copy.GetParamSum() == n);
    // A rebuilt text parses again without trouble (not always to the same
    // pairs: nothing is escaped).
    copy.SetArgs(copy.GetArgBuf(), 1);
    Check(copy.m_aryKey.GetSize() == copy.m_aryData.GetSize());
}

std::string Line(const std::string& s, std::size_t& pos) {
    std::size_t end = s.find('\n', pos);
    if (end == std::string::npos) end = s.size();
    std::string line = s.substr(pos, end - pos);
    pos = end < s.size() ? end + 1 : end;
    return line;
}

void FromEnvironment(const std::string& input) {
    std::size_t pos = 0;
    std::string method = Line(input, pos), query = Line(input, pos), length = Line(input, pos);
    std::string body = input.substr(pos);
    if (Byte_AtoL(length.c_str()) > (1L << 20)) length = "1048576";
    setenv("REQUEST_METHOD", method.c_str(), 1);
    setenv("QUERY_STRING", query.c_str(), 1);
    setenv("CONTENT_LENGTH", length.c_str(), 1);

    int fds[2];
    if (body.size() > 60000 || pipe(fds) != 0) return;  // the body fits the pipe's buffer
    if (write(fds[1], body.data(), body.size()) != static_cast<ssize_t>(body.size())) {
        close(fds[0]);
        close(fds[1]);
        return;
    }
    close(fds[1]);
    int saved = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);

    CCgiParam p;
    p.SetArgs(nullptr, 1);
    Check(static_cast<std::size_t>(p.m_strArgBuf.GetLength()) <= body.size() + query.size());
    Exercise(p);

    dup2(saved, 0);
    close(saved);
}

}  // namespace

// The query parse reads the items Byte_GetTokenOpt gives for its sets.
void SameItems(const std::string& input) {
    namespace d = vorlix::detail;
    const char* text = input.c_str();
    const long len = static_cast<long>(std::strlen(text));  // what SetArgs keeps of the input
    for (bool bQuote : {false, true}) {
        const char* seps = bQuote ? d::kQueryQuoteSeps : d::kQueryPairSeps;
        const d::SepSet<char>& set = bQuote ? d::kQueryQuoteSet : d::kQueryPairSet;
        long pos = 0;
        for (;;) {
            MString token;
            int index, ownIndex;
            long start;
            long next = Byte_GetTokenOpt(text, pos, token, seps, index, -1, 3);
            long own = d::NextQueryItem(text, pos, len, set, start, ownIndex);
            Check(next == own);
            if (next < 0) break;
            Check(index == ownIndex);
            Check(token == MString(text + start, static_cast<int>(own - start)));
            pos = next;
        }
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    std::string input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        FromEnvironment(input);
        return 0;
    }
    SameItems(input);
    for (int bDecode = 0; bDecode <= 1; ++bDecode) {
        CCgiParam p;
        p.SetArgs(input.c_str(), bDecode);
        Exercise(p);
    }
    return 0;
}
