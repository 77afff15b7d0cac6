#include "oxl/edge/VisibilityChangedTask.h"

#include <exception>

#include "oxl/log/Log.h"

namespace oxl::edge {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.edge");
    return l;
}
}  // namespace

VisibilityChangedTask::VisibilityChangedTask(std::vector<std::shared_ptr<VisibilityChangeObserver>> observers)
    : observers_(std::move(observers)) {}

void VisibilityChangedTask::execute() {
    for (const auto& observer : observers_) {
        OXL_LOG_DEBUG(logger(), "Notifying observer of onVisibilityChange.");
        // One failing observer must not keep the others from hearing about it or end the pool thread.
        try {
            observer->onVisibilityChange();
        } catch (const std::exception& e) {
            OXL_LOG_ERROR(logger(), "Observer threw from onVisibilityChange: " << e.what());
        } catch (...) {
            OXL_LOG_ERROR(logger(), "Observer threw from onVisibilityChange");
        }
    }
}

}  // namespace oxl::edge
