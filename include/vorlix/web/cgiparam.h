// CCgiParam: the parameters of a CGI query as an ordered list of key/value
// pairs (8-bit text only).
//
// SetArgs parses a query text that the caller gives, or that it reads from
// the CGI environment of the process: "REQUEST_METHOD", then for GET
// "QUERY_STRING", for POST "CONTENT_LENGTH" bytes of the request body from
// standard input. The text is read as Byte_GetTokenOpt with the options
// value 3 reads it (blanks before an item are skipped) into words and the
// separators "=" and "&", "*" or "^" between pairs:
//
//   - key=value pairs, separated by any of "&", "*" and "^"; the separator
//     met last becomes the one UpdateArgBuf joins the pairs with;
//   - a word without "=" is a keyless value, stored as it stands (neither
//     trimmed nor decoded) under a generated key "&NULL0", "&NULL1", ...;
//     any key that begins with "&" is written back as its value alone;
//   - a value that begins with a double quote runs to the next double
//     quote, separators included: k="a&b" gives the value a&b;
//   - keys and values lose their trailing white space and, with bDecode,
//     "+" becomes a blank and then %hh escapes are decoded ("%%" gives "%",
//     %2B gives "+"). The two digits are not checked: each character c
//     counts as (c & 0xDF) - 0x37 from "A" up and c - 0x30 below, so "%zz"
//     decodes to some byte; a "%" with fewer than two characters after it
//     stays as it is. "%00" gives a 0 byte that stays in the value (its
//     length counts it), and UpdateArgBuf writes it out by length.
//
// A syntax error (a separator where a key is due, "=" after "=", a word
// or "=" right after a value, two words in a row) makes SetArgs return 0
// and keeps the pairs stored before it. A trailing "&" after a pair is
// harmless; a lone "&" is such an error.
//
// Reading the body: CONTENT_LENGTH is read as a decimal number (leading
// white space, a sign, digits; saturating); 0, a negative or a non-numeric
// length reads nothing and SetArgs fails. Otherwise standard input is read
// in binary mode until that many bytes arrived or it ends, so a body that
// arrives in pieces through a pipe is read whole and a short body gives
// what arrived. The text ends at the first NUL byte of the body. The
// library sets no upper limit of its own: a length that no string can hold
// (over 2147483630 bytes) or room that cannot be had makes the read fail
// with an empty text and no pairs, and nothing is read past the room taken.
//
// Lookups by key compare ignoring case (ASCII letters) and take the first
// matching pair. Editing the pairs leaves the text alone until UpdateArgBuf
// rebuilds it; nothing is escaped when it does.
#ifndef VORLIX_WEB_CGIPARAM_H
#define VORLIX_WEB_CGIPARAM_H

#include <vorlix/base/strarray.h>
#include <vorlix/base/string.h>
#include <vorlix/config.h>

class VORLIX_API CCgiParam {
public:
    CCgiParam();
    ~CCgiParam();
    CCgiParam(const CCgiParam& src);
    // Copies the pairs, the text and the separator.
    const CCgiParam& operator=(const CCgiParam& src);

    // No pairs, an empty text, the separator "&".
    void Init();
    // The number of pairs.
    int GetParamSum() const;
    // Parses pszArgs, or the CGI input when it is null, into the pairs,
    // decoding keys and values when bDecode is non-zero. 1 on success; 0
    // when no CGI input could be had (no REQUEST_METHOD, GET without
    // QUERY_STRING, POST without a body length, another method) or the
    // query breaks off with a syntax error.
    int SetArgs(const char* pszArgs, int bDecode);
    // Gives the first pair with this key a new value; 1, or 0 when there is
    // no such pair.
    int ChangeValue(const char* pszKey, const char* pszValue);
    // ChangeValue, or AddValue when the key is absent: 1 when a value was
    // replaced, 2 when the pair was appended (0 when memory ran out).
    int UpdateValue(const char* pszKey, const char* pszValue);
    // Appends the pair, whether or not the key is present; returns the new
    // number of pairs (unchanged when memory ran out).
    int AddValue(const char* pszKey, const char* pszValue);
    // Removes the first pair with this key; 1, or 0 when there is none.
    int RemoveKey(const char* pszKey);
    // Moves the first pair with this key to the end, the others keeping
    // their order; 1 when the key was found (also when the pair is last
    // already), else 0.
    int MoveToLast(const char* pszKey);
    // Rebuilds the text from the pairs, joined by the separator in use:
    // key=value, or the value alone for a key that begins with "&". Returns
    // the text, valid until it next changes.
    const char* UpdateArgBuf();
    // The current text, valid until it next changes.
    const char* GetArgBuf() const;
    // Copies of value / key nIndex; empty when nIndex is out of range.
    MString GetDataValue(int nIndex) const;
    MString GetKeyValue(int nIndex) const;
    // A copy of the value of the first pair with this key; empty when absent.
    MString GetValue(const char* pszKey) const;

    MStringArray m_aryKey;   // the keys, in the order met or added
    MStringArray m_aryData;  // the values; entry i of both arrays is pair i
    MString m_strArgBuf;     // the query text read or given, or last rebuilt
    char m_chSeparator;      // the pair separator in use

protected:
    // Fills the text from the CGI environment (see the top of this file);
    // 1 when a query text was had, else 0.
    int ReadInputBuf();
    // Every "+" becomes a blank.
    void ChangePlus(MString& str);
    // Decodes the %hh escapes in place.
    void ChangeHex(MString& str);

private:
    int FindKey(const char* pszKey) const;
    bool StorePair(const char* pszKey, int nKey, MString& strValue, int bDecode);
    bool AppendPair(MString& strKey, MString& strValue);
};

#endif
