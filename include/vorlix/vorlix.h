// The whole public API of the Vorlix library.
#ifndef VORLIX_VORLIX_H
#define VORLIX_VORLIX_H

#include <vorlix/config.h>
#include <vorlix/win.h>

#include <vorlix/base/file.h>
#include <vorlix/base/heap.h>
#include <vorlix/base/objarray.h>
#include <vorlix/base/objcore.h>
#include <vorlix/base/strarray.h>
#include <vorlix/base/string.h>
#include <vorlix/base/text.h>
#include <vorlix/base/time.h>

#include <vorlix/token/tokenstream.h>
#include <vorlix/xml/xml.h>

#include <vorlix/sync/indexmutex.h>
#include <vorlix/util/array.h>
#include <vorlix/util/datetime.h>
#include <vorlix/util/lines.h>
#include <vorlix/util/split.h>
#include <vorlix/fs/filefind.h>
#include <vorlix/fs/paths.h>
#include <vorlix/log/logfile.h>
#include <vorlix/log/logfilemgr.h>
#include <vorlix/util/winhelp.h>
#include <vorlix/web/cgiparam.h>
#include <vorlix/web/httpheader.h>
#include <vorlix/web/url.h>

#endif
