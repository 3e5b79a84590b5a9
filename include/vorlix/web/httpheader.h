// CHttpHeader: the header block of an HTTP request or response (8-bit
// text only), and the mapping from charset names to Windows code pages.
//
// Setup reads a block line by line (LF, CR LF or CR ends a line) up to the
// first empty line. The first line is the start line:
//   - a request line "METHOD target version": the method, the target
//     without its query and the version as they stand (the version is not
//     trimmed); the query goes into m_cgiParam. A line without a version
//     gets "HTTP/1.0". A query that fails to parse without any pair leaves
//     the target whole, "?" included;
//   - a status line, one that begins with "HTTP/" in any case: the version,
//     and the status (code and reason) trimmed on both sides;
//   - anything else, and any start line of 5 characters or fewer, ends up
//     whole in the version, without its leading white space.
// Every later line "name: value" is a field: the name is kept exactly as
// written before the ":" (blanks included, so "X-Name : v" is a field
// "X-Name " that Find("X-Name") does not find), the value loses its leading
// white space. A name met again (ignoring case) replaces the value and
// keeps the first spelling and place. Lines without ":" are dropped; folded
// continuation lines are not joined. No operation reports a parse error.
//
// ToHeaderString writes the block back with CR LF line ends; for a request
// it rebuilds the query with m_cgiParam.UpdateArgBuf, which replaces the
// text that m_cgiParam held.
#ifndef VORLIX_WEB_HTTPHEADER_H
#define VORLIX_WEB_HTTPHEADER_H

#include <vorlix/base/strarray.h>
#include <vorlix/base/string.h>
#include <vorlix/config.h>
#include <vorlix/web/cgiparam.h>

class VORLIX_API CHttpHeader {
public:
    CHttpHeader();
    virtual ~CHttpHeader();
    CHttpHeader(const CHttpHeader& src);
    const CHttpHeader& operator=(const CHttpHeader& src);

    // Empty strings, no fields, no query pairs.
    void Init();
    // Parses a whole header block (see the top of this file); nReserved is
    // not used; bDecode is SetArgs's decode flag for the query.
    void Setup(const char* pszText, int nReserved, int bDecode);
    // Handles one line (without its line end) in parse state nState: 1 the
    // start line is due, 2 field lines are due. Returns the next state: 2
    // after states 1 and 2, any other state unchanged (and nothing done).
    int ProcessLine(const char* pszLine, int nState, int nReserved, int bDecode);
    // Index of the field with this name (ignoring case), or -1.
    int Find(const char* pszName);
    // The field's value and 1, or an emptied value and 0.
    int GetHeaderValue(const char* pszName, MString& strValue);
    // Replaces the field's value, or appends the field.
    void UpdateHeaderValue(const char* pszName, const char* pszValue);
    // The block as text: the request line "method target[?query] version"
    // when bRequest is non-zero, else "version status"; then "name: value"
    // for each field; each line and the block ending in CR LF.
    void ToHeaderString(MString& strHeader, int bRequest);
    // The code page of the charset in "Content-Type" (as in
    // "text/html; charset=utf-8"), or 0 when there is none or it is unknown.
    int GetCodePage();

    CCgiParam m_cgiParam;     // the query pairs of a request target
    MString m_strMethod;      // request method; empty for a response
    MString m_strUri;         // request target without its query
    MString m_strVersion;     // protocol version, or a start line that fits no form
    MString m_strStatus;      // a response's status code and reason
    MStringArray m_aryName;   // field names, in the order first met or added
    MStringArray m_aryValue;  // field values; entry i belongs to name i

private:
    int FindName(const char* pszName, int nName) const;
    void UpdateField(const char* pszName, int nName, const char* pszValue, int nValue);
};

// The Windows code page of a charset name, compared ignoring case:
// utf-8 65001; euc-kr, ks_c_5601-1987 and iso-2022-kr 949; shift_jis 932;
// iso-2022-jp 50220; euc-jp 51932; gbk 936; big5 950. Any other name (or
// null) gives nDefault.
VORLIX_API int Byte_CharSetToCodePage(const char* pszCharSet, int nDefault);
VORLIX_API int Uni_CharSetToCodePage(const unsigned short* pszCharSet, int nDefault);

#endif
