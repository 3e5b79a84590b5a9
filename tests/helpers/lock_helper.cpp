// The second process of the two-process lock tests: opens the shared lock
// NAME with COUNT indices, takes the write of INDEX, says "held" on its
// standard output, then either releases it after MS milliseconds and ends,
// or (MS = -1) holds it until it is killed.
//
//   vorlix_lock_helper NAME COUNT INDEX MS
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

#include <vorlix/vorlix.h>

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: %s NAME COUNT INDEX MS\n", argv[0]);
        return 2;
    }
    int count = std::atoi(argv[2]);
    DWORD index = static_cast<DWORD>(std::atoi(argv[3]));
    int ms = std::atoi(argv[4]);
    CWaitIndexMutexEx lock(count, argv[1]);
    if (!lock.IsOn() || !lock.WaitForWrite(index, 5000, 1)) return 1;
    std::printf("held\n");
    std::fflush(stdout);
    if (ms < 0) {
        for (;;) pause();
    }
    usleep(static_cast<useconds_t>(ms) * 1000);
    lock.ReleaseForWrite(index);
    lock.Destroy();
    return 0;
}
