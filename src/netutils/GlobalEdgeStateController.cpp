#include "oxl/netutils/GlobalEdgeStateController.h"

#include <mutex>
#include <stdexcept>
#include <utility>

#include "oxl/edge/GlobalEdgeState.h"
#include "oxl/log/Log.h"
#include "oxl/runtime/Event.h"

namespace oxl::netutils {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}

constexpr long INIT_WAIT_MS = 1000;

struct ControllerState {
    std::mutex mutex;
    std::shared_ptr<oxl::edge::GlobalEdgeState> instance;
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

}  // namespace

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
    {
        auto& c = controller();
        std::lock_guard<std::mutex> lock(c.mutex);
        dropped.swap(c.instance);
        c.initialized.reset();
    }
    // `dropped` is released here, outside the lock, in case its destructor reads the controller.
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
