#pragma once

#include "base/dual_list.h"

#include <cstdint>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define GW_POOL_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define GW_POOL_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define GW_POOL_POISON(p, n) ((void)(p), (void)(n))
#define GW_POOL_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

// The lock type of a pool used by one thread only: taking it does nothing.
struct Dummy_critical_section {
    void lock() {}
    void unlock() {}
};

// A fixed pool of N blocks, each with room for one T, in static storage.
//
// Blocks are handed out from the head of the free list and come back to its tail, so the
// block released longest ago is reused first. Nothing is ever taken from the heap. The
// blocks are raw storage: the caller constructs and destroys the T in it (T's class
// operator new and delete call allocate and deallocate).
//
// The storage is zero-initialised before any code runs and the free list is built on the
// first take, so static objects of other files may take blocks during their own start-up.
// Under AddressSanitizer a free block is poisoned: touching a released block is reported.
template <class T, unsigned int N, class Lock>
class List_allocator {
public:
    struct List_storage : F_dual_list_item<List_storage> {
        alignas(T) unsigned char raw[sizeof(T)] = {};
    };

    static constexpr unsigned int capacity = N;

    // A block from the head of the free list; null when every block is taken.
    static void* allocate()
    {
        crit_section.lock();
        if (!built)
            build();
        List_storage* s = free_list.remove_from_head();
        crit_section.unlock();
        if (!s)
            return nullptr;
        GW_POOL_UNPOISON(s->raw, sizeof s->raw);
        return s->raw;
    }

    // Puts a block taken from this pool back at the tail of the free list.
    static void deallocate(void* p)
    {
        if (!p)
            return;
        List_storage* s = storage_of(p);
        GW_POOL_POISON(s->raw, sizeof s->raw);
        crit_section.lock();
        free_list.insert_to_tail(s);
        crit_section.unlock();
    }

    // The number of free blocks.
    static unsigned int available() { return built ? free_list.count() : N; }

private:
    static void build()
    {
        for (unsigned int i = 0; i < N; ++i) {
            GW_POOL_POISON(blocks[i].raw, sizeof blocks[i].raw);
            free_list.insert_to_tail(&blocks[i]);
        }
        built = true;
    }

    static List_storage* storage_of(void* p)
    {
        auto const first = reinterpret_cast<std::uintptr_t>(blocks[0].raw);
        return &blocks[(reinterpret_cast<std::uintptr_t>(p) - first) / sizeof(List_storage)];
    }

    static List_storage blocks[N];
    static F_dual_list<List_storage> free_list;
    static Lock crit_section;
    static bool built;
};

template <class T, unsigned int N, class Lock>
typename List_allocator<T, N, Lock>::List_storage List_allocator<T, N, Lock>::blocks[N];
template <class T, unsigned int N, class Lock>
F_dual_list<typename List_allocator<T, N, Lock>::List_storage> List_allocator<T, N, Lock>::free_list;
template <class T, unsigned int N, class Lock>
Lock List_allocator<T, N, Lock>::crit_section;
template <class T, unsigned int N, class Lock>
bool List_allocator<T, N, Lock>::built = false;
