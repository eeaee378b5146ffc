// Fresh output arrays are written once per frame and then handed to the host,
// which frees them a frame later. Large blocks come straight from the system
// and every 4 KiB page of them faults on its first write; on virtual machines
// that costs more than the update writes. Asking for transparent huge pages on
// such a block, before anything is written to it, makes that one fault per
// 2 MiB instead.
#pragma once

#include <cstddef>

namespace corvane::gateway {

// A hint for the `bytes` at `data`, which the caller has just allocated and
// not yet written: back the whole 2 MiB pages inside it with huge pages where
// the system allows that (Linux with transparent huge pages in "madvise" or
// "always" mode). Does nothing elsewhere, for small blocks, or when the
// system refuses; never changes the contents or the ownership of the memory.
void AdviseHugePages(void* data, std::size_t bytes);

}  // namespace corvane::gateway
