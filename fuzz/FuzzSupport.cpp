#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "oxl/log/Log.h"

namespace oxl::fuzz {

namespace {

std::string& forbidden() {
    static std::string text;
    return text;
}

class DroppingSink : public oxl::log::LogSink {
  public:
    void write(const oxl::log::LogRecord& record) override {
        if (!forbidden().empty() && record.message.find(forbidden()) != std::string::npos) {
            fail("no secret in the log", record.sourceFile.c_str(), record.line, record.message);
        }
    }
};

}  // namespace

void forbidInLogs(const std::string& secret) {
    forbidden() = secret;
}

void fail(const char* condition, const char* file, int line, const std::string& detail) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, condition, detail.c_str());
    std::abort();
}

}  // namespace oxl::fuzz

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    oxl::log::setSink(std::make_shared<oxl::fuzz::DroppingSink>());
    oxl::log::setDefaultLevel(OXL_LEVEL_TRACE);
    return 0;
}
