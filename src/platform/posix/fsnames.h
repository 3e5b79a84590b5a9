// File names for the POSIX file-system services: the 16-bit forms' name
// conversion, the search-pattern matcher and the mapping of stat results to
// Windows attributes and file times.
//
// Names on disk are bytes, read as UTF-8. A 16-bit name holds each byte that
// is not part of valid UTF-8 as the lone surrogate U+DC80 + byte, so that
// bytes -> 16-bit -> bytes gives back the same bytes and every name a search
// reports can be opened again. Other lone surrogates, which no name on disk
// produces, become U+FFFD.
#ifndef VORLIX_SRC_PLATFORM_POSIX_FSNAMES_H
#define VORLIX_SRC_PLATFORM_POSIX_FSNAMES_H

#include <vorlix/win.h>

#include <cstddef>
#include <string>

namespace vorlix {
namespace win {
namespace posix {

// A 16-bit name as bytes (null gives an empty string). Separators are left
// as they are.
std::string WideToBytes(const WCHAR* text);
std::string WideToBytes(const WCHAR* text, std::size_t length);
// Bytes as a 16-bit name.
std::u16string BytesToWide(const char* text, std::size_t length);

// True when the name has a "*" or "?", so that it is a pattern to search
// with rather than the name of one entry.
bool HasWildcards(const char* name, std::size_t length);

// Whether a file name matches a search pattern: "*" takes any run of
// characters, "?" exactly one character (one UTF-8 sequence), ASCII letters
// match either case, and a pattern that ends in ".*" also matches names
// without that dot (so "*.*" takes every name and "a.*" takes "a"). Runs in
// O(pattern x name) time without recursion.
bool MatchPattern(const char* pattern, std::size_t patternLength, const char* name, std::size_t nameLength);

// The Windows attribute bits of an entry with this mode and last name part.
DWORD AttributesFromMode(unsigned mode, const char* name);

// A time in seconds and nanoseconds since 1970 as a file time (times before
// 1601 give 0).
FILETIME FileTimeFromUnix(long long seconds, long nanoseconds);

// The current directory; false (with the last error set) when it cannot be
// read.
bool CurrentDirectory(std::string& out);

}  // namespace posix
}  // namespace win
}  // namespace vorlix

#endif
