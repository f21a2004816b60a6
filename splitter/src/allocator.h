// How the splitter's own process has the C library's allocator keep memory.
#pragma once

namespace orvane {

// Every page asks for buffers of the same few sizes (the image data as qpdf
// copies it, the rule's rows), a few hundred KB each. glibc's allocator
// serves such sizes with mmap and hands the memory back to the system when
// freed, so every page faulted in fresh zeroed memory: 50,000 page faults
// on a 2,000-page file where 10,000 do. With two workers, faults and unmaps
// of the one address space take turns: a second worker on one file won
// about 5 % less than it does with the memory kept. Kept and reused, the
// memory stays at what one page of each worker needs. Only the splitter's
// own process: a helper measures its budgets from what it holds, and must
// not be given more to hold.
void keepFreedMemoryForReuse();

}  // namespace orvane
