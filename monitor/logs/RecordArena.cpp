#include "monitor/logs/RecordArena.h"

#include <atomic>
#include <cstdint>
#include <new>
#include <sys/mman.h>

#if defined(__SANITIZE_ADDRESS__)
#define TMN_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TMN_ASAN 1
#endif
#endif

#if defined(TMN_ASAN)
// With AddressSanitizer the free parts of a block and every header are
// poisoned, so that a record that writes past its end is caught, and the
// blocks are roots for the leak checker (records keep heap pointers).
#include <sanitizer/asan_interface.h>
#include <sanitizer/lsan_interface.h>
#define TMN_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define TMN_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define TMN_POISON(p, n) ((void)(p), (void)(n))
#define TMN_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace tarmin::monitor::detail {

namespace {

// Every allocation starts with an 8-byte header: its whole size, with the
// lowest bit set when it lies in a block.
constexpr std::size_t kHeader = 8;
constexpr uint64_t kInBlock = 1;

void *fromHeap(std::size_t total) {
    auto *p = static_cast<uint64_t *>(::operator new(total));
    *p = total;
    return reinterpret_cast<char *>(p) + kHeader;
}

// Blocks are aligned to their size, so that a record finds its block by
// rounding its address down.
constexpr std::size_t kBlockSize = 8u << 20;
constexpr std::size_t kLargest = kBlockSize / 16;

struct Block {
    std::size_t used; // bytes from the block's start, this header included
    std::size_t live; // allocations not yet released
};
constexpr std::size_t kBlockHeader = 64;

class Arena {
public:
    void *allocate(std::size_t total) {
        Guard guard(m_lock);
        if (!m_current || m_current->used + total > kBlockSize) {
            retireCurrent();
            m_current = newBlock();
            if (!m_current) return nullptr;
        }
        char *p = reinterpret_cast<char *>(m_current) + m_current->used;
        m_current->used += total;
        m_current->live++;
        TMN_UNPOISON(p, total);
        *reinterpret_cast<uint64_t *>(p) = total | kInBlock;
        TMN_POISON(p, kHeader);
        return p + kHeader;
    }

    void release(char *p, std::size_t total) {
        Block *b = reinterpret_cast<Block *>(reinterpret_cast<uintptr_t>(p) & ~(uintptr_t{kBlockSize} - 1));
        bool unmap = false;
        {
            Guard guard(m_lock);
            TMN_POISON(p, total);
            --b->live;
            if (b == m_current) {
                if (b->live == 0) b->used = kBlockHeader; // the whole block is free again
                else if (reinterpret_cast<char *>(b) + b->used == p + total) b->used -= total; // the newest one
            } else {
                unmap = b->live == 0;
            }
        }
        if (unmap) unmapBlock(b);
    }

private:
    struct Guard {
        explicit Guard(std::atomic_flag &f) : flag(f) {
            while (flag.test_and_set(std::memory_order_acquire)) {
            }
        }
        ~Guard() { flag.clear(std::memory_order_release); }
        std::atomic_flag &flag;
    };

    static Block *newBlock() {
        // Twice the size, then the aligned block is kept and the rest returned.
        void *raw = ::mmap(nullptr, 2 * kBlockSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED) return nullptr;
        uintptr_t start = reinterpret_cast<uintptr_t>(raw);
        uintptr_t aligned = (start + kBlockSize - 1) & ~(uintptr_t{kBlockSize} - 1);
        if (aligned > start) ::munmap(raw, aligned - start);
        uintptr_t end = start + 2 * kBlockSize;
        if (end > aligned + kBlockSize) ::munmap(reinterpret_cast<void *>(aligned + kBlockSize), end - aligned - kBlockSize);
#if defined(MADV_HUGEPAGE)
        // Large pages where the system offers them: a block then costs four
        // page allocations instead of 2,048.
        ::madvise(reinterpret_cast<void *>(aligned), kBlockSize, MADV_HUGEPAGE);
#endif
#if defined(MADV_POPULATE_WRITE)
        // All pages at once; without this the first touch of each page faults.
        ::madvise(reinterpret_cast<void *>(aligned), kBlockSize, MADV_POPULATE_WRITE);
#endif
        auto *b = reinterpret_cast<Block *>(aligned);
        b->used = kBlockHeader;
        b->live = 0;
        TMN_POISON(reinterpret_cast<char *>(b) + kBlockHeader, kBlockSize - kBlockHeader);
#if defined(TMN_ASAN)
        __lsan_register_root_region(b, kBlockSize);
#endif
        return b;
    }

    static void unmapBlock(Block *b) {
#if defined(TMN_ASAN)
        __lsan_unregister_root_region(b, kBlockSize);
        TMN_UNPOISON(b, kBlockSize);
#endif
        ::munmap(b, kBlockSize);
    }

    // The current block is left to its records; it goes when the last one does.
    void retireCurrent() {
        if (m_current && m_current->live == 0) unmapBlock(m_current);
        m_current = nullptr;
    }

    std::atomic_flag m_lock = ATOMIC_FLAG_INIT;
    Block *m_current = nullptr;
};

// Never destroyed: records may be released during the program's exit.
Arena &arena() {
    static Arena *a = new Arena;
    return *a;
}

} // namespace

void *allocateRecord(std::size_t bytes) {
    std::size_t total = (bytes + kHeader + 7) & ~std::size_t{7};
    if (total <= kLargest)
        if (void *p = arena().allocate(total)) return p;
    return fromHeap(total);
}

void releaseRecord(void *p) noexcept {
    if (!p) return;
    char *start = static_cast<char *>(p) - kHeader;
    // A heap allocation's header is ordinary memory; a block's is poisoned
    // under AddressSanitizer and read with the poison lifted.
    TMN_UNPOISON(start, kHeader);
    uint64_t header = *reinterpret_cast<uint64_t *>(start);
    if (header & kInBlock) {
        arena().release(start, static_cast<std::size_t>(header & ~kInBlock));
        return;
    }
    ::operator delete(start);
}

} // namespace tarmin::monitor::detail
