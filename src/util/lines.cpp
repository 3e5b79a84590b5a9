// Comment-skipping line readers: one loop for every source and width, over
// the base line readers.
#include <vorlix/base/file.h>
#include <vorlix/util/lines.h>

namespace vorlix {
namespace detail {
namespace {

// Reads lines with readLine() (which fills strLine and returns non-zero when
// it read one) until one is not a comment, and trims its start.
template <class Ch, class ReadLine>
int ReadSkippingComments(BasicString<Ch>& strLine, ReadLine readLine) {
    static const Ch kLeadingWhite[] = {' ', '\r', '\n', '\t', 0};
    for (;;) {
        if (!readLine()) {
            strLine.Empty();
            return 0;
        }
        strLine.TrimLeft(kLeadingWhite);
        if (strLine.GetLength() < 2 || strLine[0] != '/' || strLine[1] != '/') return 1;
    }
}

}  // namespace
}  // namespace detail
}  // namespace vorlix

using vorlix::detail::ReadSkippingComments;

int Byte_ReadText1LineSkipComment(const char* pszText, unsigned long& dwPos, MString& strLine) {
    return ReadSkippingComments(strLine, [&] { return Byte_ReadText1Line(pszText, dwPos, strLine, 0); });
}

int Uni_ReadText1LineSkipComment(const unsigned short* pszText, unsigned long& dwPos, UString& strLine) {
    return ReadSkippingComments(strLine, [&] { return Uni_ReadText1Line(pszText, dwPos, strLine, 0); });
}

int Uni_ReadText1LineSkipCommentEndian(const unsigned short* pszText, unsigned long& dwPos, UString& strLine,
                                       int nEndian) {
    return ReadSkippingComments(strLine, [&] { return Uni_ReadText1LineEndian(pszText, dwPos, strLine, 0, nEndian); });
}

int Byte_Read1LineSkipComment(void* hFile, MString& strLine) {
    return ReadSkippingComments(strLine, [&] { return Byte_Read1Line(hFile, strLine, 0); });
}

int Uni_Read1LineSkipComment(void* hFile, UString& strLine) {
    return ReadSkippingComments(strLine, [&] { return Uni_Read1Line(hFile, strLine, 0); });
}

int Uni_Read1LineSkipCommentEndian(void* hFile, UString& strLine, int nEndian) {
    return ReadSkippingComments(strLine, [&] { return Uni_Read1LineEndian(hFile, strLine, 0, nEndian); });
}
