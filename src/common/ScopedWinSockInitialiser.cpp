#include "oxl/common/ScopedWinSockInitialiser.h"

namespace oxl::ip {

// POSIX sockets are always available: start-up cannot fail and succeeds silently, and there is nothing to
// release, so the failure lines of the socket start-up and clean-up never occur on this platform.
ScopedWinSockInitialiser::ScopedWinSockInitialiser() : started_(true) {}

ScopedWinSockInitialiser::~ScopedWinSockInitialiser() = default;

}  // namespace oxl::ip
