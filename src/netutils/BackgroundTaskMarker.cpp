#include "oxl/netutils/BackgroundTaskMarker.h"

#include "oxl/log/Log.h"

namespace oxl::netutils {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.netutils");
    return l;
}
}  // namespace

void BackgroundTaskMarker::markProgress() const {
    OXL_LOG_INFO(logger(), "Progressing through background task " << taskName_ << ", id " << id_ << ".");
}

}  // namespace oxl::netutils
