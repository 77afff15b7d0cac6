// Keeps the socket layer started for the lifetime of the object. POSIX sockets need no start-up, so on this
// platform the guard is always started and has nothing to clean up.
#pragma once

namespace oxl::ip {

class ScopedWinSockInitialiser {
  public:
    ScopedWinSockInitialiser();
    virtual ~ScopedWinSockInitialiser();
    ScopedWinSockInitialiser(const ScopedWinSockInitialiser&) = delete;
    ScopedWinSockInitialiser& operator=(const ScopedWinSockInitialiser&) = delete;

    bool isStarted() const { return started_; }

  private:
    bool started_ = false;
};

}  // namespace oxl::ip
