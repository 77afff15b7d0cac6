#include "oxl/netutils/NetworkEventReporterImpl.h"

#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <utility>

#include "netutils/NetworkEventTask.h"
#include "oxl/edge/EdgeDetectionController.h"
#include "oxl/edge/EdgeInfrastructureEventController.h"
#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/http/HttpNetworkEvent.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/GlobalEdgeStateController.h"
#include "oxl/runtime/ThreadPool.h"

namespace oxl::netutils {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}

using Type = NetworkEventTask::Type;

// The one queue every reporter object feeds. Made on first use rather than at load, so that a program that
// links the library but never reports runs no thread of it.
struct ReporterQueue {
    std::mutex mutex;
    std::shared_ptr<oxl::ThreadPool> pool;
    bool made = false;  // also true after stop(): a stopped reporter stays stopped
};

// Never destroyed: transfers finishing during static destruction may still report.
ReporterQueue& queue() {
    static auto* q = new ReporterQueue();
    return *q;
}

std::shared_ptr<oxl::ThreadPool> makePool(unsigned int threads) {
    return std::make_shared<oxl::ThreadPool>(threads, threads, NetworkEventReporterImpl::THREAD_POOL_NAME,
                                             NetworkEventReporterImpl::THREAD_POOL_IDLE_SECONDS);
}

std::shared_ptr<oxl::ThreadPool> currentPool() {
    auto& q = queue();
    const std::lock_guard<std::mutex> lock(q.mutex);
    if (!q.made) {
        q.pool = makePool(1);
        q.made = true;
    }
    return q.pool;
}

// The old pool is released outside the lock: its destructor drops the queued events.
void replacePool(std::shared_ptr<oxl::ThreadPool> pool) {
    auto& q = queue();
    std::shared_ptr<oxl::ThreadPool> old;
    {
        const std::lock_guard<std::mutex> lock(q.mutex);
        old = std::exchange(q.pool, std::move(pool));
        q.made = true;
    }
}

void post(Type type, const std::string& label, const std::string* server = nullptr) {
    auto task = std::make_shared<NetworkEventTask>(type, label);
    if (server != nullptr) {
        task->setServerForEdgeEvent(*server);
    }
    auto pool = currentPool();
    if (!pool) {
        OXL_LOG_DEBUG(logger(), "Network event reporter stopped, dropping event " << label);
        return;
    }
    pool->enqueue(std::move(task));
}

std::shared_ptr<oxl::edge::NetworkSensingHints> sensingHints() {
    if (!GlobalEdgeStateController::isInitialized()) {
        OXL_LOG_INFO(logger(), "Event ignored. Edge not initialized.");
        return nullptr;
    }
    std::shared_ptr<oxl::edge::GlobalEdgeState> state;
    try {
        state = GlobalEdgeStateController::getGlobalEdgeState();
    } catch (const std::logic_error&) {
        // Reset between the two calls: the same as not initialised.
        OXL_LOG_INFO(logger(), "Event ignored. Edge not initialized.");
        return nullptr;
    }
    auto detection = state->getEdgeDetectionController();
    auto hints = detection ? detection->getNetworkSensingHints() : nullptr;
    if (!hints) {
        OXL_LOG_WARN(logger(), "Event ignored. No edge detection controller to take the hint.");
    }
    return hints;
}

bool isEdgeLabel(const std::string& label, const char* suffix) {
    using oxl::http::HttpNetworkEvent;
    return label == std::string(HttpNetworkEvent::EDGE_PREFIX) + suffix;
}

bool isFailoverLabel(const std::string& label, const char* suffix) {
    using oxl::http::HttpNetworkEvent;
    return label == std::string(HttpNetworkEvent::EDGE_FAILOVER_PREFIX) + suffix;
}

// The infrastructure event for a label (null when the controller makes none); `known` false for a label
// that names no infrastructure event. A transfer that failed on every
// edge server reports the whole cluster as failed; one that failed over and succeeded does not.
std::unique_ptr<oxl::edge::EdgeInfrastructureEvent> eventFor(oxl::edge::EdgeInfrastructureEventController& c,
                                                             const std::string& label,
                                                             const std::string& server, bool& known) {
    using oxl::http::HttpNetworkEvent;
    known = true;
    if (label == HttpNetworkEvent::EDGE_OAUTH_EXPIRED) {
        return c.createEdgeOauthExpiredEvent(server);
    }
    if (label == HttpNetworkEvent::EDGE_AUTHENTICATION_REQUIRED) {
        return c.createEdgeAuthenticationRequiredEvent(server);
    }
    for (const char* suffix :
         {HttpNetworkEvent::HOST_UNREACHABLE_SUFFIX, HttpNetworkEvent::CONNECTION_TIMEOUT_SUFFIX,
          HttpNetworkEvent::CERT_VALIDATION_SUFFIX}) {
        if (isEdgeLabel(label, suffix)) {
            return c.createEdgeConnectionFailedEvent(server, true);
        }
        if (isFailoverLabel(label, suffix)) {
            return c.createEdgeConnectionFailedEvent(server, false);
        }
    }
    if (isEdgeLabel(label, HttpNetworkEvent::UNRESOLVED_HOST_SUFFIX)) {
        return c.createEdgeUnresolvedHostEvent(server, true);
    }
    if (isFailoverLabel(label, HttpNetworkEvent::UNRESOLVED_HOST_SUFFIX)) {
        return c.createEdgeUnresolvedHostEvent(server, false);
    }
    if (label == HttpNetworkEvent::EDGE_INTERNAL_SERVER_ERROR) {
        return c.createEdgeInternalServerErrorEvent(server);
    }
    if (label == HttpNetworkEvent::EDGE_SERVICE_UNAVAILABLE) {
        return c.createEdgeServiceUnavailableEvent(server);
    }
    if (label == HttpNetworkEvent::EDGE_NEXT_HOP_FAILED) {
        return c.createEdgeNextHopFailedEvent(server);
    }
    known = false;
    return nullptr;
}

}  // namespace

void NetworkEventReporterImpl::hintNetworkInterfaceMightHaveDropped(const std::string& label) {
    post(Type::HINT_NETWORK_INTERFACE_MIGHT_HAVE_DROPPED, label);
}

void NetworkEventReporterImpl::hintNetworkStackNotReady(const std::string& label) {
    post(Type::HINT_NETWORK_STACK_NOT_READY, label);
}

void NetworkEventReporterImpl::hintNetworkIsInUse(const std::string& label) {
    post(Type::HINT_NETWORK_IS_IN_USE, label);
}

void NetworkEventReporterImpl::hintHostOsIpInterfaceChanged(const std::string& label) {
    post(Type::HINT_HOST_OS_IP_INTERFACE_CHANGED, label);
}

void NetworkEventReporterImpl::edgeInfrastructureEvent(const std::string& label, const std::string& server) {
    post(Type::EDGE_INFRASTRUCTURE_EVENT, label, &server);
}

void NetworkEventReporterImpl::stop() {
    OXL_LOG_DEBUG(logger(), "Stopping the network event reporter");
    replacePool(nullptr);
}

void NetworkEventReporterImpl::hintNetworkInterfaceMightHaveDroppedImpl(const std::string& label) {
    OXL_LOG_DEBUG(logger(), "Event Label: " << label);
    if (auto hints = sensingHints()) {
        hints->hintNetworkInterfaceMightHaveDropped(label);
    }
}

void NetworkEventReporterImpl::hintNetworkStackNotReadyImpl(const std::string& label) {
    OXL_LOG_DEBUG(logger(), "Event Label: " << label);
    if (auto hints = sensingHints()) {
        hints->hintNetworkStackNotReady(label);
    }
}

void NetworkEventReporterImpl::hintNetworkIsInUseImpl(const std::string& label) {
    OXL_LOG_DEBUG(logger(), "Event Label: " << label);
    if (auto hints = sensingHints()) {
        hints->hintNetworkIsInUse(label);
    }
}

void NetworkEventReporterImpl::hintHostOsIpInterfaceChangedImpl(const std::string& label) {
    OXL_LOG_DEBUG(logger(), "Event Label: " << label);
    if (auto hints = sensingHints()) {
        hints->hintHostOsIpInterfaceChanged(label);
    }
}

void NetworkEventReporterImpl::edgeInfrastructureEventImpl(const std::string& label,
                                                           const std::string& server) {
    OXL_LOG_INFO(logger(), "Event Label: " << label << " server: '" << server << "'");
    if (!GlobalEdgeStateController::isInitialized()) {
        OXL_LOG_INFO(logger(), "Event ignored. Edge not initialized.");
        return;
    }
    auto controller = oxl::edge::EdgeInfrastructureEventController::getInstance();
    bool known = false;
    auto event = eventFor(*controller, label, server, known);
    if (!known) {
        OXL_LOG_WARN(logger(), "unknown event");
        return;
    }
    if (event) {
        controller->enqueue(std::move(event));
    }
}

void NetworkEventReporterImpl::disableNetworkEventReporterForTesting() {
    replacePool(makePool(0));
}

void NetworkEventReporterImpl::enableNetworkEventReporterForTesting() {
    replacePool(makePool(1));
}

namespace {
class MarkerTask : public oxl::Task {
  public:
    void execute() override { done_.set_value(); }
    std::future<void> done() { return done_.get_future(); }

  private:
    std::promise<void> done_;
};
}  // namespace

bool NetworkEventReporterImpl::waitUntilIdleForTesting(long timeoutMs) {
    auto pool = currentPool();
    if (!pool) {
        return false;
    }
    auto marker = std::make_shared<MarkerTask>();
    auto done = marker->done();
    pool->enqueue(marker);
    if (done.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready) {
        return false;
    }
    try {
        done.get();
        return true;
    } catch (const std::future_error&) {
        return false;  // dropped unrun with its pool
    }
}

std::size_t NetworkEventReporterImpl::queuedEventsForTesting() {
    auto pool = currentPool();
    return pool ? pool->getQueuedCount() : 0;
}

}  // namespace oxl::netutils
