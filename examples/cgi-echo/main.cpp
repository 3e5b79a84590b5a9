// cgi-echo: a CGI program that answers with the parameters of its request.
//
// Run by a web server, it reads the query of a GET request or the
// form-encoded body of a POST request from the CGI environment, decodes it,
// and answers with a text/plain body of one "key=value" line per pair, in
// the order they came. Its header block is built with CHttpHeader: the
// status goes into the first line as "Status: 200 OK", and two fields tell
// what the parse gave, X-Cgi-Result (SetArgs's result: 0 when there was no
// query or body, or the query broke off) and X-Cgi-Pairs (the number of
// pairs). Every request gets this clean answer, also a malformed one.
#include <vorlix/vorlix.h>

#include <cstdio>

namespace {

void Write(const MString& s) {
    std::fwrite(static_cast<const char*>(s), 1, static_cast<std::size_t>(s.GetLength()), stdout);
}

}  // namespace

int main() {
    {
        // Values are written as they were decoded, bytes as they are.
        using namespace vorlix::win;
        _setmode(1, _O_BINARY);
    }

    CCgiParam params;
    int result = params.SetArgs(nullptr, 1);

    CHttpHeader response;
    response.m_strVersion = "Status:";
    response.m_strStatus = "200 OK";
    response.UpdateHeaderValue("Content-Type", "text/plain; charset=utf-8");
    MString number;
    number.Format("%d", result);
    response.UpdateHeaderValue("X-Cgi-Result", number);
    number.Format("%d", params.GetParamSum());
    response.UpdateHeaderValue("X-Cgi-Pairs", number);

    MString out;
    response.ToHeaderString(out, 0);
    for (int i = 0; i < params.GetParamSum(); ++i) {
        out += params.m_aryKey[i];
        out += '=';
        out += params.m_aryData[i];
        out += '\n';
    }
    Write(out);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
