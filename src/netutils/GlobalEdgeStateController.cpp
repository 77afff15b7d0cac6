#include "oxl/netutils/GlobalEdgeStateController.h"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "oxl/edge/EdgeConfigRequestImpl.h"
#include "oxl/edge/EdgeDetectionControllerImpl.h"
#include "oxl/edge/EdgeInfrastructureEventControllerImpl.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "oxl/edge/GlobalEdgeStateImpl.h"
#include "oxl/log/Log.h"
#include "oxl/netutils/adapters/EdgeHttpAdapter.h"
#include "oxl/runtime/Event.h"

namespace oxl::netutils {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}

constexpr long INIT_WAIT_MS = 1000;

// What init built, so that reset can stop its threads.
struct Subsystem {
    std::shared_ptr<oxl::edge::EdgeDetectionControllerImpl> detection;
    std::shared_ptr<oxl::edge::EdgeTransitionDetectionControllerImpl> transitions;
    std::shared_ptr<oxl::edge::EdgeInfrastructureEventControllerImpl> infrastructure;
};

struct ControllerState {
    std::mutex mutex;
    std::shared_ptr<oxl::edge::GlobalEdgeState> instance;
    Subsystem subsystem;
    // Serialises init calls without holding `mutex` while the subsystem is built.
    std::mutex initMutex;
    // Manual reset: every reader waiting at publication time must wake, not only one.
    oxl::Event initialized{false};
};

// Never destroyed, so late readers during static destruction still find a valid mutex.
ControllerState& controller() {
    static auto* state = new ControllerState();
    return *state;
}

std::shared_ptr<oxl::edge::GlobalEdgeState> current() {
    auto& c = controller();
    std::lock_guard<std::mutex> lock(c.mutex);
    return c.instance;
}

// The one place where the configuration request is made. The object factory will supply it; until then it
// runs on the library's basic HTTP client through the edge HTTP adapter.
std::shared_ptr<oxl::edge::EdgeConfigRequest> createEdgeConfigRequest() {
    return std::make_shared<oxl::edge::EdgeConfigRequestImpl>(std::make_shared<adapters::EdgeHttpAdapter>());
}

void stopSubsystem(const Subsystem& subsystem) {
    if (subsystem.infrastructure) {
        subsystem.infrastructure->stop();
        if (oxl::edge::EdgeInfrastructureEventController::getInstance() == subsystem.infrastructure) {
            oxl::edge::EdgeInfrastructureEventController::setInstance(nullptr);
        }
    }
    if (subsystem.transitions) {
        subsystem.transitions->stop();
    }
    if (subsystem.detection) {
        subsystem.detection->stop();
    }
}

}  // namespace

void GlobalEdgeStateController::init(const std::string& internalDomain, const std::string& externalDomain) {
    OXL_LOG_INFO(logger(), "Initializing GlobalEdgeStateController. Domains: Internal-"
                               << internalDomain << ", External-" << externalDomain);
    auto& c = controller();
    const std::lock_guard<std::mutex> initLock(c.initMutex);
    std::shared_ptr<oxl::edge::GlobalEdgeState> existing;
    Subsystem built;
    {
        const std::lock_guard<std::mutex> lock(c.mutex);
        existing = c.instance;
        built = c.subsystem;
    }
    if (existing) {
        OXL_LOG_INFO(logger(), "GlobalEdgeStateController already initialized, updating");
        if (built.detection) {
            built.detection->setDomains(internalDomain, externalDomain);
        }
        existing->setEdgeDomain(internalDomain);
        return;
    }

    Subsystem subsystem;
    subsystem.detection = oxl::edge::EdgeDetectionControllerImpl::build(internalDomain, externalDomain);
    subsystem.transitions = oxl::edge::EdgeTransitionDetectionControllerImpl::build();
    subsystem.detection->setEdgeTransitionDetectionController(subsystem.transitions);
    subsystem.transitions->start();
    auto state =
        oxl::edge::GlobalEdgeStateImpl::build(createEdgeConfigRequest(), subsystem.detection, internalDomain);
    subsystem.infrastructure = oxl::edge::EdgeInfrastructureEventControllerImpl::build(state);
    oxl::edge::EdgeInfrastructureEventController::setInstance(subsystem.infrastructure);
    subsystem.infrastructure->start();
    state->setEdgeInfrastructureEventController(subsystem.infrastructure);
    {
        const std::lock_guard<std::mutex> lock(c.mutex);
        c.subsystem = subsystem;
    }
    OXL_LOG_INFO(logger(), "GlobalEdgeStateController initialized.");
    install(state);
}

std::shared_ptr<oxl::edge::GlobalEdgeState> GlobalEdgeStateController::getGlobalEdgeState() {
    if (auto state = current()) {
        return state;
    }
    // Not holding the mutex here: initialisation needs it to publish the state we wait for.
    controller().initialized.wait(INIT_WAIT_MS);
    if (auto state = current()) {
        return state;
    }
    OXL_LOG_ERROR(logger(), "GlobalEdgeStateController not initialized");
    OXLLogger_flush();
    throw std::logic_error(
        "Unable to access GlobalEdgeState instance. GlobalEdgeStateController not initialized. Call init "
        "method before");
}

bool GlobalEdgeStateController::isInitialized() {
    return current() != nullptr;
}

void GlobalEdgeStateController::reset() {
    OXL_LOG_INFO(logger(), "Resetting GlobalEdgeStateController");
    std::shared_ptr<oxl::edge::GlobalEdgeState> dropped;
    Subsystem subsystem;
    {
        auto& c = controller();
        std::lock_guard<std::mutex> lock(c.mutex);
        dropped.swap(c.instance);
        std::swap(subsystem, c.subsystem);
        c.initialized.reset();
    }
    // Outside the lock: stopping joins threads that may read the controller.
    stopSubsystem(subsystem);
}

void GlobalEdgeStateController::resetForTesting() {
    reset();
}

void GlobalEdgeStateController::setInstanceForTesting(std::shared_ptr<oxl::edge::GlobalEdgeState> state) {
    install(std::move(state));
}

void GlobalEdgeStateController::install(std::shared_ptr<oxl::edge::GlobalEdgeState> state) {
    if (!state) {
        OXL_LOG_ERROR(logger(), "Refusing to publish an empty GlobalEdgeState");
        return;
    }
    std::shared_ptr<oxl::edge::GlobalEdgeState> replaced;
    {
        auto& c = controller();
        std::lock_guard<std::mutex> lock(c.mutex);
        replaced = std::exchange(c.instance, std::move(state));
        c.initialized.set();
    }
}

}  // namespace oxl::netutils
