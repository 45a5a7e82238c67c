#include <malloc.h>

#include "db/odbc_internal.h"

namespace brimlet::db {

// psqlODBC for Windows writes its logs only where its own settings say; nothing of ours to
// remove. (Under Wine the host's driver runs and may leave its /tmp file, which Windows has not.)
void RemoveDisconnectLog() noexcept {}

void ReleaseFreedHeap() noexcept {
    (void)_heapmin();
}

}  // namespace brimlet::db
