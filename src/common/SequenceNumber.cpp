#include "oxl/common/SequenceNumber.h"

#include <mutex>

#include "oxl/log/Log.h"

namespace oxl::common {

namespace {

OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common");
    return l;
}

std::mutex& counterMutex() {
    static std::mutex m;
    return m;
}

std::uint32_t counter = 0;

}  // namespace

std::uint32_t SequenceNumber::getSequenceNumber() {
    {
        std::lock_guard lock(counterMutex());
        if (counter < MAX_VALUE) {
            return ++counter;
        }
    }
    OXL_LOG_WARN(logger(), "The counter has reached it's maximum limit. Returning maximum value.");
    return MAX_VALUE;
}

void SequenceNumber::setCounterForTesting(std::uint32_t value) {
    std::lock_guard lock(counterMutex());
    counter = value < MAX_VALUE ? value : MAX_VALUE;
}

}  // namespace oxl::common
