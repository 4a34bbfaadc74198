// CList: a singly linked list that owns copies of its values, with a
// traversal position; its nodes (elem) come from a pool of blocks of 256.
//
// Walking protocol: set current to head; then repeatedly take the node current
// names, advance current to that node's next before using the node, and stop
// when the node taken is null. Any walk may leave current anywhere, so every
// walk starts by resetting it.
// Used by the application: nothing; kept as the library's own (the string
// class's lists and wildcard matching).
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "support/PoolPoison.h"

template <typename T>
class elem {
public:
    static constexpr std::size_t kNodesPerBlock = 256;

    T value;
    elem* next;
    // Link to the next free node while this node is in the pool.
    elem* pool_next;

    // First free node of the pool; null until the first block is made.
    static inline elem* lfree = nullptr;

    explicit elem(const T& v) noexcept : value(v), next(nullptr), pool_next(nullptr) {}

    // One node from the pool whatever size is asked; null when a new block
    // cannot be obtained. Nodes freed are reused last-in first-out.
    static void* operator new(std::size_t) noexcept {
        if (!lfree) {
            void* raw = ::operator new[](kNodesPerBlock * sizeof(elem), std::nothrow);
            if (!raw) return nullptr;
            auto* block = static_cast<elem*>(raw);
            // Node 0 is handed out now; nodes 255 down to 1 follow, in that order.
            for (std::size_t i = 1; i < kNodesPerBlock; ++i) {
                block[i].pool_next = i > 1 ? &block[i - 1] : nullptr;
                PoisonPoolSlot(&block[i], offsetof(elem, pool_next));
            }
            lfree = &block[kNodesPerBlock - 1];
            return &block[0];
        }
        elem* node = lfree;
        lfree = node->pool_next;
        UnpoisonPoolSlot(node, offsetof(elem, pool_next));
        return node;
    }

    // Puts the node back on the pool's free list; blocks are never returned
    // to the system.
    static void operator delete(void* p) noexcept {
        if (!p) return;
        auto* node = static_cast<elem*>(p);
        node->pool_next = lfree;
        lfree = node;
        PoisonPoolSlot(node, offsetof(elem, pool_next));
    }
};

template <typename T>
class CList {
public:
    elem<T>* head = nullptr;
    elem<T>* tail = nullptr;
    // Traversal position: during a walk, the node to be visited next.
    elem<T>* current = nullptr;
    std::int32_t count = 0;

    CList() noexcept = default;
    // A list gives its nodes back to the pool when it ends.
    ~CList() { clear(); }

    // Nodes belong to exactly one list: copying would hand them to two.
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;
    CList(CList&& other) noexcept
        : head(other.head), tail(other.tail), current(other.current), count(other.count) {
        other.head = other.tail = other.current = nullptr;
        other.count = 0;
    }
    CList& operator=(CList&& other) noexcept {
        if (this != &other) {
            clear();
            head = other.head;
            tail = other.tail;
            current = other.current;
            count = other.count;
            other.head = other.tail = other.current = nullptr;
            other.count = 0;
        }
        return *this;
    }

    // Adds a copy of v at the tail and sets current to the old tail (null for
    // the first node). When no node can be obtained the list is unchanged.
    void append(const T& v) noexcept {
        auto* node = new elem<T>(v);
        if (!node) return;
        current = tail;
        if (tail)
            tail->next = node;
        else
            head = node;
        tail = node;
        ++count;
    }

    // Returns every node to the pool, head first, so the old tail is the first
    // node reused; leaves the list empty with current null.
    void clear() noexcept {
        current = head;
        while (elem<T>* node = current) {
            current = node->next;
            delete node;
        }
        head = tail = nullptr;
        count = 0;
    }
};
