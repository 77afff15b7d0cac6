// Watches the heap of this test program: while a HeapWatch lives, every block allocated through operator
// new is counted, and every block released is counted and checked for a marker byte still in it (a buffer
// that held a secret must be wiped before it goes back). One watch at a time.
#pragma once

#include <cstddef>

namespace oxl::test {

class HeapWatch {
  public:
    // False where the program's operator new cannot be replaced (sanitized builds); tests then skip.
    static bool available();

    explicit HeapWatch(char marker = '\0');
    ~HeapWatch();
    HeapWatch(const HeapWatch&) = delete;
    HeapWatch& operator=(const HeapWatch&) = delete;

    std::size_t allocations() const;
    std::size_t releases() const;
    // Released blocks in which the marker byte was still found.
    std::size_t unwipedReleases() const;
};

}  // namespace oxl::test
