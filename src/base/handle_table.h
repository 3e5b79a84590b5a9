// The table that every handle the library hands out comes from: file
// handles of Byte_OpenFile, and on POSIX the platform layer's kernel
// objects. Header-only and built on the standard library alone, so that the
// platform layer below the base can keep its objects in one too.
//
// A handle value is not a pointer. It carries the index of a slot, the
// slot's generation when the handle was made, and a tag that tells one
// table's handles from another's:
//
//     64-bit value:  tag (4 bits) | generation (38 bits) | index (22 bits)
//     32-bit value:  tag (2 bits) | generation (14 bits) | index (16 bits)
//
// The tag is neither 0 nor all ones, so 0 and INVALID_HANDLE_VALUE (-1) are
// never handed out. Closing a handle bumps its slot's generation, so the old
// value never names the slot's next object. A lookup decodes the value,
// checks the tag, that the slot exists and that its generation and state
// match, and only then reads the object pointer the slot holds: a stale,
// foreign, null or garbage value is refused without touching memory the
// table did not hand out.
//
// Each slot has one atomic state word: its generation, a live bit and a use
// count. A lookup (Use) takes a use with one compare-and-swap and gives it
// back with one atomic decrement: no lock on the read path. Closing clears
// the live bit; the object is destroyed by whoever lets go of it last, so a
// handle closed by one thread while another is using it stays valid for
// that use until it ends, and every later lookup fails. Freed slots go on a
// lock-free list (with a counter against reuse races) and are taken again
// before new ones. Slots come in chunks of 4096 that are allocated when
// first needed and never move or go away, which is what lets a lookup read
// a slot without a lock.
//
// Limits: at most 2^kIndexBits live handles per table (4,194,304 with the
// default on 64-bit targets; 65,536 on 32-bit ones); a handle of a slot
// reused 2^38 times (2^14 on 32-bit) could name that slot again. At most
// 2^24 - 1 uses of one handle at the same time; past that a lookup fails.
//
// The table's storage is zero-initialised and its destructor does nothing,
// so a table with static storage duration needs no start-up and no
// shut-down work, and handles stay valid while other statics are destroyed.
#ifndef VORLIX_SRC_BASE_HANDLE_TABLE_H
#define VORLIX_SRC_BASE_HANDLE_TABLE_H

#include <atomic>
#include <cstdint>
#include <new>

namespace vorlix {
namespace detail {

template <class T, unsigned kTag, unsigned kIndexBits = (sizeof(void*) >= 8 ? 22u : 16u)>
class HandleTable {
    static constexpr unsigned kValueBits = sizeof(std::uintptr_t) * 8;
    static constexpr unsigned kTagBits = kValueBits >= 64 ? 4u : 2u;
    // The generation takes the bits between index and tag, up to 38 (its
    // room in a slot's state word); bits left over must be 0 in a handle.
    static constexpr unsigned kGenRoom = kValueBits - kTagBits - kIndexBits;
    static constexpr unsigned kGenBits = kGenRoom < 38 ? kGenRoom : 38u;
    static_assert(kTag > 0 && kTag < (1u << kTagBits) - 1, "the tag keeps 0 and -1 out of the handle values");
    static_assert(kIndexBits >= 1 && kIndexBits <= 24 && kGenBits >= 8, "index and generation fit the value");

    static constexpr unsigned kChunkBits = kIndexBits < 12 ? kIndexBits : 12u;
    static constexpr std::uint32_t kChunkSlots = 1u << kChunkBits;
    static constexpr std::uint32_t kChunks = 1u << (kIndexBits - kChunkBits);

    // The state word of a slot: use count, live bit, generation.
    static constexpr unsigned kUseBits = 24;
    static constexpr std::uint64_t kUseOne = 1;
    static constexpr std::uint64_t kUseMask = (std::uint64_t(1) << kUseBits) - 1;
    static constexpr std::uint64_t kLive = std::uint64_t(1) << kUseBits;
    static constexpr unsigned kGenShift = kUseBits + 1;
    static constexpr std::uint64_t kGenMask = (std::uint64_t(1) << kGenBits) - 1;

    // The free list's head: a slot index + 1 (0 for none) and a counter that
    // changes on every push and pop.
    static constexpr std::uint64_t kHeadIndexMask = (std::uint64_t(1) << 32) - 1;

    struct Slot {
        std::atomic<std::uint64_t> state;
        std::atomic<T*> object;
        std::atomic<std::uint32_t> next;  // the next free slot's index + 1, while free
        std::uint32_t index;              // this slot's own index
    };

public:
    // The most handles that can be live at once.
    static constexpr std::uint32_t kMaxHandles = kChunks * kChunkSlots;

    // Holds the object of a live handle for the length of one operation; the
    // object is not destroyed while a Use of it exists, even if the handle
    // is closed meanwhile. Empty (false) when the handle names no object.
    class Use {
    public:
        Use() noexcept = default;
        Use(HandleTable& table, const void* handle) noexcept : m_table(&table) {
            m_object = table.Acquire(handle, m_slot);
        }
        Use(Use&& other) noexcept : m_table(other.m_table), m_slot(other.m_slot), m_object(other.m_object) {
            other.m_slot = nullptr;
            other.m_object = nullptr;
        }
        Use& operator=(Use&& other) noexcept {
            if (this != &other) {
                Reset();
                m_table = other.m_table;
                m_slot = other.m_slot;
                m_object = other.m_object;
                other.m_slot = nullptr;
                other.m_object = nullptr;
            }
            return *this;
        }
        Use(const Use&) = delete;
        Use& operator=(const Use&) = delete;
        ~Use() { Reset(); }

        explicit operator bool() const noexcept { return m_object != nullptr; }
        T* get() const noexcept { return m_object; }
        T* operator->() const noexcept { return m_object; }
        T& operator*() const noexcept { return *m_object; }

        // Gives the use back now.
        void Reset() noexcept {
            if (m_slot) m_table->Release(m_slot);
            m_slot = nullptr;
            m_object = nullptr;
        }

    private:
        HandleTable* m_table = nullptr;
        Slot* m_slot = nullptr;
        T* m_object = nullptr;
    };

    constexpr HandleTable() noexcept = default;
    HandleTable(const HandleTable&) = delete;
    HandleTable& operator=(const HandleTable&) = delete;

    // Takes ownership of obj (allocated with new) and returns its handle;
    // null when obj is null or every slot is taken, and obj then stays the
    // caller's.
    void* Add(T* obj) noexcept {
        if (!obj) return nullptr;
        std::uint32_t index;
        Slot* slot = TakeSlot(index);
        if (!slot) return nullptr;
        slot->object.store(obj, std::memory_order_relaxed);
        std::uint64_t gen = slot->state.load(std::memory_order_relaxed) >> kGenShift;
        // Publishes the object with the live bit.
        slot->state.store((gen << kGenShift) | kLive, std::memory_order_release);
        std::uintptr_t v = (static_cast<std::uintptr_t>(kTag) << (kValueBits - kTagBits)) |
                           (static_cast<std::uintptr_t>(gen) << kIndexBits) | index;
        return reinterpret_cast<void*>(v);
    }

    // Closes a handle: false when it names no live object (closed already,
    // or never one of this table's). The object is destroyed now, or when
    // the last Use of it ends.
    bool Close(const void* handle) noexcept {
        std::uint64_t gen;
        Slot* slot = Find(handle, gen);
        if (!slot) return false;
        std::uint64_t s = slot->state.load(std::memory_order_relaxed);
        for (;;) {
            if (!(s & kLive) || (s >> kGenShift) != gen) return false;
            if (slot->state.compare_exchange_weak(s, s & ~kLive, std::memory_order_acq_rel, std::memory_order_relaxed))
                break;
        }
        if ((s & kUseMask) == 0) Destroy(slot);
        return true;
    }

    // The object of a live handle, held for the caller; see Use.
    Use Lookup(const void* handle) noexcept { return Use(*this, handle); }

private:
    // Decodes a value: its slot, or null when the tag is not this table's
    // or the slot was never made.
    Slot* Find(const void* handle, std::uint64_t& gen) const noexcept {
        std::uintptr_t v = reinterpret_cast<std::uintptr_t>(handle);
        if ((v >> (kValueBits - kTagBits)) != kTag) return nullptr;
        std::uint32_t index = static_cast<std::uint32_t>(v & ((std::uintptr_t(1) << kIndexBits) - 1));
        gen = static_cast<std::uint64_t>((v << kTagBits) >> (kTagBits + kIndexBits));
        if (gen > kGenMask) return nullptr;
        Slot* chunk = m_chunks[index >> kChunkBits].load(std::memory_order_acquire);
        return chunk ? &chunk[index & (kChunkSlots - 1)] : nullptr;
    }

    T* Acquire(const void* handle, Slot*& out) noexcept {
        out = nullptr;
        std::uint64_t gen;
        Slot* slot = Find(handle, gen);
        if (!slot) return nullptr;
        std::uint64_t s = slot->state.load(std::memory_order_relaxed);
        for (;;) {
            if (!(s & kLive) || (s >> kGenShift) != gen || (s & kUseMask) == kUseMask) return nullptr;
            if (slot->state.compare_exchange_weak(s, s + kUseOne, std::memory_order_acq_rel, std::memory_order_relaxed))
                break;
        }
        out = slot;
        return slot->object.load(std::memory_order_relaxed);
    }

    void Release(Slot* slot) noexcept {
        std::uint64_t s = slot->state.fetch_sub(kUseOne, std::memory_order_acq_rel);
        // The last use of a closed handle destroys its object.
        if (!(s & kLive) && (s & kUseMask) == kUseOne) Destroy(slot);
    }

    // Called once the slot is closed and unused, which no other thread can
    // change: bumps the generation, frees the slot, then destroys the object.
    void Destroy(Slot* slot) noexcept {
        T* obj = slot->object.exchange(nullptr, std::memory_order_relaxed);
        std::uint64_t gen = slot->state.load(std::memory_order_relaxed) >> kGenShift;
        slot->state.store(((gen + 1) & kGenMask) << kGenShift, std::memory_order_release);
        GiveBack(slot);
        delete obj;
    }

    Slot* TakeSlot(std::uint32_t& index) noexcept {
        // A freed slot first.
        std::uint64_t head = m_free.load(std::memory_order_acquire);
        while (head & kHeadIndexMask) {
            std::uint32_t i = static_cast<std::uint32_t>((head & kHeadIndexMask) - 1);
            Slot* slot = SlotAt(i);
            std::uint64_t next = slot->next.load(std::memory_order_relaxed);
            std::uint64_t counter = (head >> 32) + 1;
            if (m_free.compare_exchange_weak(head, (counter << 32) | next, std::memory_order_acq_rel,
                                             std::memory_order_acquire)) {
                index = i;
                return slot;
            }
        }
        // Then a slot never used, in a chunk made when first needed.
        std::uint32_t i = m_used.load(std::memory_order_relaxed);
        do {
            if (i >= kMaxHandles) return nullptr;
        } while (!m_used.compare_exchange_weak(i, i + 1, std::memory_order_relaxed));
        std::atomic<Slot*>& chunkRef = m_chunks[i >> kChunkBits];
        Slot* chunk = chunkRef.load(std::memory_order_acquire);
        if (!chunk) {
            Slot* made = new (std::nothrow) Slot[kChunkSlots];
            if (!made) {
                // Out of memory: hand the index back unless others took
                // later ones meanwhile (it is then lost, which costs one
                // slot of the limit).
                std::uint32_t expected = i + 1;
                m_used.compare_exchange_strong(expected, i, std::memory_order_relaxed);
                return nullptr;
            }
            std::uint32_t first = i & ~(kChunkSlots - 1);
            for (std::uint32_t k = 0; k < kChunkSlots; ++k) {
                made[k].state.store(0, std::memory_order_relaxed);
                made[k].object.store(nullptr, std::memory_order_relaxed);
                made[k].next.store(0, std::memory_order_relaxed);
                made[k].index = first + k;
            }
            if (chunkRef.compare_exchange_strong(chunk, made, std::memory_order_acq_rel, std::memory_order_acquire)) {
                chunk = made;
            } else {
                delete[] made;  // another thread made it first
            }
        }
        index = i;
        return &chunk[i & (kChunkSlots - 1)];
    }

    Slot* SlotAt(std::uint32_t i) const noexcept {
        return &m_chunks[i >> kChunkBits].load(std::memory_order_acquire)[i & (kChunkSlots - 1)];
    }

    // Puts a free slot on the free list.
    void GiveBack(Slot* slot) noexcept {
        std::uint64_t i = slot->index;
        std::uint64_t head = m_free.load(std::memory_order_relaxed);
        for (;;) {
            slot->next.store(static_cast<std::uint32_t>(head & kHeadIndexMask), std::memory_order_relaxed);
            std::uint64_t counter = (head >> 32) + 1;
            if (m_free.compare_exchange_weak(head, (counter << 32) | (i + 1), std::memory_order_acq_rel,
                                             std::memory_order_relaxed))
                return;
        }
    }

    std::atomic<Slot*> m_chunks[kChunks] = {};
    std::atomic<std::uint32_t> m_used{0};  // slots ever taken from the chunks
    std::atomic<std::uint64_t> m_free{0};  // head of the free list
};

}  // namespace detail
}  // namespace vorlix

#endif
