// Date parsing: the two fixed-field date forms of HTTP headers, and numeric
// dates written with slashes and colons.
//
// ParsorStrTime splits the text with GetSplitTokenEx (split.h) at " ,:",
// keeping each comma and colon as a token of its own, and accepts exactly
// two shapes:
//
// - 11 tokens, the RFC 1123 form in GMT: "Sun, 06 Nov 1994 08:49:37 GMT".
//   Token 1 must be ",", tokens 6 and 8 ":", token 10 "GMT" in any case.
// - 9 tokens, the asctime form in local time: "Sun Nov  6 08:49:37 1994".
//   Tokens 4 and 6 must be ":".
//
// Any other count (10, or 12 and more) is refused, and so is the RFC 850
// form ("Sunday, 06-Nov-94 08:49:37 GMT": 9 tokens whose token 1 is ",").
// The weekday is not examined. The month is a whole three-letter English
// name in any case ("nov", "NOV"); "June" or "Sept" is refused. Numbers are
// read with Byte_AtoL / Uni_AtoL and not checked: "32" as a day, or "xx"
// (0) as an hour, goes to MTime, which carries fields out of range into the
// next larger one. The year is used as written (no two-digit years).
//
// The RFC 1123 time is built as local time from its fields (summer time
// left to the platform), then moved by the local standard-time offset
// (_timezone, read at each call). The result is the exact GMT time when
// summer time is not in force on that date, and one hour early (its
// GetTime() 3600 smaller) when it is: "Fri, 01 Jul 2005 12:00:00 GMT"
// gives 11:00 GMT in a zone with summer time in July, and 12:00 GMT in one
// without. Callers that need the exact instant in every zone should parse
// the fields themselves.
//
// A date that the local calendar cannot hold as an MTime (before 1970 in
// the local zone, or beyond the platform's range: 2038 where long is 32
// bits) is accepted with the MTime holding -1.
//
// String2Time reads "year/month/day/hour:minute:second": every "/" and ":"
// separates, and nothing else does: a blank is part of a field, so
// "2008/01/02 10:20:30" has the fields 2008, 01, "02 10", 20 and 30 and
// reads day 2, hour 20, minute 30. Each field is read with atoi (leading
// white space, a sign and the leading digits; 0 when there are none). An
// empty field ("2008//03") reads 0 and fields never shift. Missing trailing
// fields come from a default MTime, which holds 0: the fields of
// 1970-01-01 00:00:00 UTC in local time (a text without fields gives 0).
// Fields after the sixth are ignored. The result is MTime(fields, local time, summer time left to the
// platform).GetTime(): -1 where the platform cannot represent the time
// (Windows refuses times before 1970; on Linux they are negative).
//
// Both read the time zone again at each call (from TZ when it is set).
#ifndef VORLIX_UTIL_DATETIME_H
#define VORLIX_UTIL_DATETIME_H

#include <vorlix/base/time.h>
#include <vorlix/config.h>

// 1 with tm set when the text has one of the two forms; 0 with tm untouched
// otherwise (also for a null text).
VORLIX_API int Byte_ParsorStrTime(const char* lpszTime, MTime& tm);
VORLIX_API int Uni_ParsorStrTime(const unsigned short* lpszTime, MTime& tm);

// The seconds since 1970 of the date read; never fails by itself.
VORLIX_API long Byte_String2Time(const char* lpszTime);
VORLIX_API long Uni_String2Time(const unsigned short* lpszTime);

#endif
