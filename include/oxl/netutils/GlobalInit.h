// Process-wide set-up of the library: call GlobalInit once before any HTTP facility is used and
// GlobalCleanup at the end.
#pragma once

namespace oxl::netutils {

// Version banner, libcurl with the library's memory callbacks, OpenSSL locking.
// 0 on success (also when already initialised), -1 when libcurl could not be initialised, or was already
// initialised by someone else without these callbacks (libcurl keeps the first caller's memory functions, so
// nothing it frees would be wiped).
int GlobalInit();
// Only the libcurl step: 0 on success or when already done, -1 on failure (as for GlobalInit).
int GlobalInitLibCurlOnly();
// Stops the network event reporter's thread (later events are dropped), then libcurl clean-up, then OpenSSL
// thread clean-up. A later GlobalInit in the same process does nothing.
void GlobalCleanup();

// Writes the version banner to the log the first time it is called in the process; later calls are silent.
void printVersionBannerOnce();

}  // namespace oxl::netutils
