#include <vorlix/base/objcore.h>

#include <atomic>

namespace {
std::atomic<PRJWARNINGHANDLER> g_warningHandler{nullptr};
}

void PrjWarningMsg(int condition) {
    if (condition) return;
    PRJWARNINGHANDLER handler = g_warningHandler.load(std::memory_order_acquire);
    if (handler) handler();
}

PRJWARNINGHANDLER PrjSetWarningHandler(PRJWARNINGHANDLER handler) {
    return g_warningHandler.exchange(handler, std::memory_order_acq_rel);
}

CObjCore::~CObjCore() {}
