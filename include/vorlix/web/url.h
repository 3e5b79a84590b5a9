// URLs and dotted addresses, in an 8-bit (Byte_) and a 16-bit (Uni_) form
// with one algorithm each, and a 32-bit sum over bytes (API_).
//
// ParsorUrl splits "scheme://host:port/path?query" with the tokenizer into
// its parts. It never fails; at the first token that does not fit it stops
// and the outputs keep what they hold then. Start values: empty scheme,
// host and query, path "/", port 0.
//   http://Host:8080/a/b.html?x=1  http, host, 8080, /a/b.html, x=1
//   http://host?x=1                http, host, 0, /, x=1
//   /a/b?x                         (no scheme or host), /a/b, x
//   dir/page?x                     (no scheme or host), dir/page, x
//   file://C:\dir\f.txt            file, C:, 0, \dir\f.txt (a drive after
//                                  "//": the rest is the path, unchanged)
//   file:///home/u/f.txt           file, empty host, /home/u/f.txt
//   mailto:x                       mailto; nothing else (no "//")
// Only the host is lowered; the scheme keeps its case; the query is neither
// decoded nor split. The port is read as atoi reads it and cut to its low
// 16 bits (70000 gives 4464). A URL that begins with ":" or "?" leaves
// every output at its start value. When "/" or "?" follows "//" at once,
// the host is empty and the path (and query) follow as usual; a ":" right
// after "//" is taken as the host itself (http://:81/x gives the host ":"
// and the path "81/x"). The token after the port's ":" is always the port
// text, so a separator there reads as port 0 and is consumed: the path
// starts after it (http://h:/x/y gives the path "x/y").
//
// StandardUrl brings an "http://" URL (any case) into one form: the query
// is parsed by CCgiParam without decoding and rebuilt (pairs in order,
// joined by the separator met last, cut at the first syntax error, dropped
// with its "?" when no pair is left); the URL without its query is lowered,
// or only its scheme, host and port with bLowerHostOnly; trailing "/"
// characters go, also from the end of the query. Other URLs stay as they
// are. The 16-bit form rebuilds the query as 8-bit text in code page 949
// (Korean): characters of the query that code page cannot hold come back
// as "?".
//
// IPStrToIPByte reads up to four dot-separated numbers as atoi reads them,
// each kept modulo 256 ("300" gives 44); missing parts are 0, anything
// after the fourth is ignored, and nothing is validated: the result is
// always 1.
#ifndef VORLIX_WEB_URL_H
#define VORLIX_WEB_URL_H

#include <vorlix/base/string.h>
#include <vorlix/config.h>

// Splits pszUrl; all five outputs are always written.
VORLIX_API void Byte_ParsorUrl(const char* pszUrl, MString& strScheme, MString& strHost, MString& strPath,
                               MString& strQuery, unsigned short& nPort);
VORLIX_API void Uni_ParsorUrl(const unsigned short* pszUrl, UString& strScheme, UString& strHost, UString& strPath,
                              UString& strQuery, unsigned short& nPort);

// Cuts the URL down to scheme "://" host and the path's directory without
// its last "/": http://h:8080/a/b/c.html?x=1 becomes http://h/a/b, and
// http://h/c.html becomes http://h. Port and query are dropped.
VORLIX_API void Byte_GetBaseUrl(MString& strUrl);
VORLIX_API void Uni_GetBaseUrl(UString& strUrl);

// Rewrites an "http://" URL in its standard form (see the top of this file).
VORLIX_API void Byte_StandardUrl(MString& strUrl, int bLowerHostOnly);
VORLIX_API void Uni_StandardUrl(UString& strUrl, int bLowerHostOnly);

// Fills the four bytes at pbyIP from a dotted address; returns 1.
VORLIX_API int Byte_IPStrToIPByte(const char* pszIP, unsigned char* pbyIP);
VORLIX_API int Uni_IPStrToIPByte(const unsigned short* pszIP, unsigned char* pbyIP);

// The sum, modulo 2^32, of the nLen bytes read as 32-bit little-endian
// words; a last partial word is padded with zero bytes above. 0 when nLen
// is 0 or less. "abcde" gives 0x64636261 + 0x65 = 0x646362C6.
VORLIX_API unsigned long API_StringToDWord(const unsigned char* pData, int nLen);

#endif
