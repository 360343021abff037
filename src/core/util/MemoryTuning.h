#pragma once

namespace lintbay {

// Tells the C library's allocator to keep the blocks a running download frees for the next ones.
// The network thread reads every answer into fresh blocks of a few hundred kilobytes and the window's
// thread frees them moments later; left to itself, the allocator hands such blocks back to the system
// at once and takes them again, so that every page of every download is faulted in anew (at full
// speed that was more than half of the program's CPU time). Call once, at the start of main().
void keepFreedMemoryForReuse();

} // namespace lintbay
