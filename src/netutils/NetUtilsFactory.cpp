#include "oxl/netutils/NetUtilsFactory.h"

#include <utility>

#include "oxl/cert/common/CertVerifierFactory.h"
#include "oxl/edge/EdgeConfigRequestImpl.h"
#include "oxl/edge/EdgeUtils.h"
#include "oxl/http/BasicHttpClientImpl.h"
#include "oxl/http/MultiHttpClientImpl.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalInit.h"
#include "oxl/netutils/NetworkEventReporterImpl.h"
#include "oxl/netutils/adapters/EdgeHttpAdapter.h"
#include "oxl/netutils/adapters/EdgeUtilsAdapter.h"
#include "oxl/netutils/adapters/HttpCertAdapter.h"
#include "oxl/netutils/adapters/HttpEventReporterAdapter.h"
#include "oxl/runtime/ThreadPool.h"

namespace oxl::netutils {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}

std::shared_ptr<oxl::ThreadPool> newPool() {
    return std::make_shared<oxl::ThreadPool>(
        NetUtilsFactory::MIN_DEFAULT_THREADPOOL_SIZE, NetUtilsFactory::MAX_DEFAULT_THREADPOOL_SIZE,
        NetUtilsFactory::THREAD_POOL_NAME, NetUtilsFactory::THREAD_POOL_IDLE_SECONDS);
}

std::shared_ptr<oxl::http::EdgeTransformer> edgeTransformer() {
    return std::make_shared<adapters::EdgeUtilsAdapter>(oxl::edge::EdgeUtils::getInstance());
}
}  // namespace

unsigned int NetUtilsFactory::MIN_DEFAULT_THREADPOOL_SIZE = 0;
unsigned int NetUtilsFactory::MAX_DEFAULT_THREADPOOL_SIZE = 10;

NetUtilsFactory::NetUtilsFactory() {
    printVersionBannerOnce();
}

std::shared_ptr<oxl::http::BasicHttpClient> NetUtilsFactory::createBasicHttpClient() const {
    return createBasicHttpClient(oxl::cert::CertVerifierFactory::createCertVerifier(), newPool());
}

std::shared_ptr<oxl::http::BasicHttpClient> NetUtilsFactory::createBasicHttpClient(
    std::shared_ptr<oxl::cert::CertVerifier> certVerifier) const {
    return createBasicHttpClient(std::move(certVerifier), newPool());
}

std::shared_ptr<oxl::http::BasicHttpClient> NetUtilsFactory::createBasicHttpClient(
    std::shared_ptr<oxl::ThreadPool> pool) const {
    return createBasicHttpClient(oxl::cert::CertVerifierFactory::createCertVerifier(), std::move(pool));
}

std::shared_ptr<oxl::http::BasicHttpClient> NetUtilsFactory::createBasicHttpClient(
    std::shared_ptr<oxl::cert::CertVerifier> certVerifier, std::shared_ptr<oxl::ThreadPool> pool) const {
    if (!certVerifier) {
        OXL_LOG_WARN(logger(), "No certificate verifier given, using a new one");
        certVerifier = oxl::cert::CertVerifierFactory::createCertVerifier();
    }
    if (!pool) {
        OXL_LOG_WARN(logger(), "No thread pool given, using a new one");
        pool = newPool();
    }
    return oxl::http::BasicHttpClientImpl::buildBasicHttpClientImpl(
        edgeTransformer(), std::make_shared<adapters::HttpCertAdapter>(std::move(certVerifier)),
        std::move(pool), std::make_shared<adapters::HttpEventReporterAdapter>(createNetworkEventReporter()));
}

std::shared_ptr<oxl::http::MultiHttpClient> NetUtilsFactory::createMultiHttpClient() const {
    return oxl::http::MultiHttpClientImpl::buildMultiHttpClientImpl(
        edgeTransformer(),
        std::make_shared<adapters::HttpCertAdapter>(oxl::cert::CertVerifierFactory::createCertVerifier()),
        std::make_shared<adapters::HttpEventReporterAdapter>(createNetworkEventReporter()));
}

std::shared_ptr<oxl::edge::EdgeConfigRequest> NetUtilsFactory::createEdgeConfigRequest() const {
    return std::make_shared<oxl::edge::EdgeConfigRequestImpl>(std::make_shared<adapters::EdgeHttpAdapter>());
}

std::shared_ptr<NetworkEventReporter> NetUtilsFactory::createNetworkEventReporter() const {
    return std::make_shared<NetworkEventReporterImpl>();
}

}  // namespace oxl::netutils
