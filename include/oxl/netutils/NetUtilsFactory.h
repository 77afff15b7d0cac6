// Where a host obtains the library's working objects once GlobalInit has run. Each call builds a new,
// independent object already wired to the edge, certificate and event subsystems: a client made here
// rewrites requests for the edge when its policy says so, verifies certificates with the library's
// verifier and reports its network events.
#pragma once

#include <memory>

namespace oxl {
class ThreadPool;
}
namespace oxl::cert {
class CertVerifier;
}
namespace oxl::edge {
class EdgeConfigRequest;
}
namespace oxl::http {
class BasicHttpClient;
class MultiHttpClient;
}  // namespace oxl::http

namespace oxl::netutils {

class NetworkEventReporter;

class NetUtilsFactory {
  public:
    // Thread limits of every pool the factory makes; read at each creation.
    static unsigned int MIN_DEFAULT_THREADPOOL_SIZE;
    static unsigned int MAX_DEFAULT_THREADPOOL_SIZE;
    static constexpr const char* THREAD_POOL_NAME = "AsyncHttpReq";
    static constexpr unsigned int THREAD_POOL_IDLE_SECONDS = 60;

    // Writes the version banner to the log if that is still pending.
    NetUtilsFactory();

    // A client with its own "AsyncHttpReq" pool and a new certificate verifier.
    std::shared_ptr<oxl::http::BasicHttpClient> createBasicHttpClient() const;
    // With the given verifier (a null one is replaced by a new verifier).
    std::shared_ptr<oxl::http::BasicHttpClient> createBasicHttpClient(
        std::shared_ptr<oxl::cert::CertVerifier> certVerifier) const;
    // On the given pool, which clients may share (a null one is replaced by a new pool).
    std::shared_ptr<oxl::http::BasicHttpClient> createBasicHttpClient(
        std::shared_ptr<oxl::ThreadPool> pool) const;
    std::shared_ptr<oxl::http::MultiHttpClient> createMultiHttpClient() const;
    // Runs its transfers on a basic client made by this factory.
    std::shared_ptr<oxl::edge::EdgeConfigRequest> createEdgeConfigRequest() const;
    std::shared_ptr<NetworkEventReporter> createNetworkEventReporter() const;

  private:
    std::shared_ptr<oxl::http::BasicHttpClient> createBasicHttpClient(
        std::shared_ptr<oxl::cert::CertVerifier> certVerifier, std::shared_ptr<oxl::ThreadPool> pool) const;
};

}  // namespace oxl::netutils
