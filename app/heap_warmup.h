// The first conversion of a process touches about a megabyte of fresh heap (compressor state,
// spool and row buffers), and each page's first touch is a fault; on virtual machines one costs
// ~10 us. A program that converts one database and ends, the way GNU parallel and Slurm run it,
// pays that every time; putting the pages in place with one call costs a fraction of it.
#pragma once

#include <cstddef>

// Puts `bytes` of heap in place for the allocations to come, and keeps freed blocks in the heap
// for reuse rather than handing them back. Does nothing where the kernel cannot populate pages
// (before Linux 5.14).
void warmHeap(std::size_t bytes);
