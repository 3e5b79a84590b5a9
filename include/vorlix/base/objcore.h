// The object core that the library's value classes derive from, and the
// assertion hook that argument checks report to.
#ifndef VORLIX_BASE_OBJCORE_H
#define VORLIX_BASE_OBJCORE_H

#include <vorlix/config.h>

// Reports a condition that holds in correct use. Execution goes on either
// way and no result changes; the library never prints. When the condition
// is 0 the installed handler, if any, is called.
VORLIX_API void PrjWarningMsg(int condition);

// Handler for failed conditions (for debugging and tests). Returns the
// handler that was installed before; pass null to remove it.
typedef void (*PRJWARNINGHANDLER)(void);
VORLIX_API PRJWARNINGHANDLER PrjSetWarningHandler(PRJWARNINGHANDLER handler);

class VORLIX_API CObjCore {
public:
    CObjCore() {}
    CObjCore(const CObjCore&) {}
    virtual ~CObjCore();
    CObjCore& operator=(const CObjCore&) { return *this; }

    // Debug validity check: reports a null object to PrjWarningMsg.
    static void AssertObjValid(const CObjCore* pObj) {
        if (!pObj) PrjWarningMsg(0);
    }
    static void AssertObjValid(const CObjCore& obj) { AssertObjValid(&obj); }
};

#endif
