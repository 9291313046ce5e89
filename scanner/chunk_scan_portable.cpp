// The chunk scanner for any processor.

#include "chunk_scan.h"

open_context scan_chunks_portable(scan_state& st, open_context from)
{
    return scan_chunks<scalar_parts>(st, from);
}
