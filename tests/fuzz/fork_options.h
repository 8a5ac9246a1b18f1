#pragma once

// The address sanitizer's defaults for a fuzz target whose daemon forks its child programs;
// included by one unit of the target only (it defines the hook the sanitizer calls).
//
// The freed memory is held back (the quarantine) 32 MB deep rather than 256: what it holds is
// copied, page table and all, at every fork, and the whole of it made the forks most of the
// run's time; 32 MB still holds what many inputs free, so that a use of memory freed within an
// input, or within the inputs just before, is found. Each allocation and release keeps the 8
// calls that lead to it rather than 30 (ASAN_OPTIONS=malloc_context_size=30 gives the whole
// stacks when a finding is looked into); the fault's own stack is whole always. ASAN_OPTIONS
// still rules.
extern "C" char const* __asan_default_options() { return "quarantine_size_mb=32:malloc_context_size=8"; }
