// Memory callbacks handed to libcurl: every block is tracked and overwritten with zeros before it goes back
// to the heap, because libcurl buffers hold credentials, cookies and tokens.
#pragma once

#include <cstddef>
#include <cstdint>

namespace oxl::netutils {

void* libcurl_malloc_callback(std::size_t size);
void libcurl_free_callback(void* ptr);
void* libcurl_realloc_callback(void* ptr, std::size_t size);
char* libcurl_strdup_callback(const char* str);
void* libcurl_calloc_callback(std::size_t nmemb, std::size_t size);

// Total size of the blocks currently handed out (32-bit, wraps like the counter it reports).
std::uint32_t libCurlBytesInUse();
// Number of blocks currently handed out.
std::size_t libCurlBlocksInUse();

}  // namespace oxl::netutils
