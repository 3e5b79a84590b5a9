// The system-family test and the message-pumping waits.
#include <vorlix/util/winhelp.h>
#include <vorlix/win.h>

using namespace vorlix::win;

namespace {

// Milliseconds from start to now, wrapped to a signed 32-bit value.
int Elapsed(const _timeb& start, const _timeb& now) {
    long long ms = static_cast<long long>(now.time - start.time) * 1000 - start.millitm + now.millitm;
    return static_cast<int>(static_cast<unsigned>(static_cast<unsigned long long>(ms) & 0xFFFFFFFFu));
}

// The flag as it is now: another thread may write it while we wait.
int ReadFlag(const int* pFlag) { return pFlag ? __atomic_load_n(pFlag, __ATOMIC_ACQUIRE) : 0; }

// Takes one message from the queue, translates and dispatches it: 0 when
// there was none, 2 when it was the quit message, else 1.
int PumpOne() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0xFFFF, PM_REMOVE)) return 0;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return msg.message == WM_QUIT ? 2 : 1;
}

// Pumps while the flag is (bWhileSet) or is not (!bWhileSet) set.
int PumpWhile(int nTime, int* pFlag, bool bWhileSet) {
    _timeb start;
    _ftime(&start);
    for (;;) {
        _timeb now;
        _ftime(&now);
        if (Elapsed(start, now) > nTime) return 0;
        if ((ReadFlag(pFlag) != 0) != bWhileSet) return 0;
        if (PumpOne() == 2) return 1;
    }
}

}  // namespace

int API_IsWindow98() {
    unsigned long v = static_cast<unsigned long>(GetVersion()) & 0xFFFFFFFFu;
    return v >= 0x80000000u && (v & 0xFF) >= 4 ? 1 : 0;
}

int API_WaitForFalse(int nTime, int* pFlag) { return PumpWhile(nTime, pFlag, false); }

int API_WaitForTrue(int nTime, int* pFlag) { return PumpWhile(nTime, pFlag, true); }

int API_WndMessagePeek() {
    for (;;) {
        int got = PumpOne();
        if (got != 1) return got == 2 ? 1 : 0;
    }
}
