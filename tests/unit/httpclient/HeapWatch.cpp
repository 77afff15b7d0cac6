#include "HeapWatch.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define OXL_SANITIZER_OWNS_HEAP 1
#else
#define OXL_SANITIZER_OWNS_HEAP 0
#endif

namespace {
// Each block carries its size in front, so a release can look at all of it.
constexpr std::size_t HEADER = 2 * sizeof(std::size_t);

std::atomic<bool> watching{false};
std::atomic<char> marker{'\0'};
std::atomic<std::size_t> allocations{0};
std::atomic<std::size_t> releases{0};
std::atomic<std::size_t> unwiped{0};

#if !OXL_SANITIZER_OWNS_HEAP
void* allocate(std::size_t size) {
    void* block = std::malloc(HEADER + (size == 0 ? 1 : size));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    *static_cast<std::size_t*>(block) = size;
    if (watching.load(std::memory_order_relaxed)) {
        allocations.fetch_add(1);
    }
    return static_cast<char*>(block) + HEADER;
}

void release(void* pointer) noexcept {
    if (pointer == nullptr) {
        return;
    }
    char* block = static_cast<char*>(pointer) - HEADER;
    if (watching.load(std::memory_order_relaxed)) {
        releases.fetch_add(1);
        const std::size_t size = *reinterpret_cast<std::size_t*>(block);
        const char* bytes = static_cast<const char*>(pointer);
        const char mark = marker.load();
        for (std::size_t i = 0; i < size && mark != '\0'; ++i) {
            if (bytes[i] == mark) {
                unwiped.fetch_add(1);
                break;
            }
        }
    }
    std::free(block);
}
#endif
}  // namespace

// AddressSanitizer and ThreadSanitizer own the heap of a sanitized build (and blocks they allocate inside the
// library would reach these releases without a header), so the watch exists only in plain builds.
#if !OXL_SANITIZER_OWNS_HEAP
void* operator new(std::size_t size) {
    return allocate(size);
}
void operator delete(void* pointer) noexcept {
    release(pointer);
}
void operator delete(void* pointer, std::size_t) noexcept {
    release(pointer);
}
#endif

namespace oxl::test {

bool HeapWatch::available() {
#if OXL_SANITIZER_OWNS_HEAP
    return false;
#else
    return true;
#endif
}

HeapWatch::HeapWatch(char mark) {
    marker = mark;
    ::allocations = 0;
    ::releases = 0;
    unwiped = 0;
    watching = true;
}

HeapWatch::~HeapWatch() {
    watching = false;
}

std::size_t HeapWatch::allocations() const {
    return ::allocations.load();
}

std::size_t HeapWatch::releases() const {
    return ::releases.load();
}

std::size_t HeapWatch::unwipedReleases() const {
    return unwiped.load();
}

}  // namespace oxl::test
