// Windows helpers: whether the system is of the old 95/98/Me family, and
// waits that keep the calling thread's window messages flowing.
//
// The waits spin: between messages they look at the queue again at once,
// without sleeping, so a wait keeps one processor busy for its whole length.
// They are meant for short waits of a thread that owns windows. Elapsed time
// is measured in milliseconds with _ftime; a wait ends when more than nTime
// milliseconds have passed (so nTime 0 still looks at the queue), when the
// flag reaches its ending value (read anew before every look at the queue,
// so another thread may set it), or when the quit message is met: it is
// translated and dispatched like any other message, taken from the queue for
// good, and reported with 1. On POSIX the queue is the library's own thread
// message queue (PostThreadMessageA, PostQuitMessage).
#ifndef VORLIX_UTIL_WINHELP_H
#define VORLIX_UTIL_WINHELP_H

#include <vorlix/config.h>

// 1 on Windows 95, 98 and Me; 0 on every system of the NT family (and on
// POSIX).
VORLIX_API int API_IsWindow98();

// Pumps messages while *pFlag is 0 and the time lasts; 1 when the quit
// message was met, else 0. A null pFlag reads as 0.
VORLIX_API int API_WaitForFalse(int nTime, int* pFlag);

// Pumps messages while *pFlag is not 0 and the time lasts; 1 when the quit
// message was met, else 0. A null pFlag reads as 0.
VORLIX_API int API_WaitForTrue(int nTime, int* pFlag);

// Handles every waiting message; 1 when the quit message was met (the
// messages behind it stay), 0 when the queue is empty.
VORLIX_API int API_WndMessagePeek();

#endif
