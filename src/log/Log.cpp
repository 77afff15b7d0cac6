#include "oxl/log/Log.h"

#include <pthread.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <mutex>

struct OXLLoggerData {
    std::string name;
    std::atomic<int> level{OXL_LEVEL_WARN};
    bool hasOwnLevel = false;  // guarded by the registry mutex
};

namespace oxl::log {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<OXLLoggerData>, std::less<>> loggers;
    int defaultLevel = OXL_LEVEL_WARN;
    std::mutex sinkMutex;
    std::shared_ptr<LogSink> sink = std::make_shared<StderrLogSink>();
};

// Never destroyed: loggers are used from static destructors and detached threads at exit.
Registry& registry() {
    static Registry* r = new Registry();  // NOLINT(cppcoreguidelines-owning-memory)
    return *r;
}

std::string currentThreadName() {
    char buf[32] = {};
    if (pthread_getname_np(pthread_self(), buf, sizeof(buf)) != 0) {
        return {};
    }
    return buf;
}

}  // namespace

void StderrLogSink::write(const LogRecord& record) {
    const auto t = std::chrono::system_clock::to_time_t(record.time);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(record.time.time_since_epoch()).count() % 1000;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char stamp[32];
    std::strftime(stamp, sizeof(stamp), "%Y-%m-%d %H:%M:%S", &tm);
    char line[64];
    std::snprintf(line, sizeof(line), "%s.%03d", stamp, static_cast<int>(ms));
    std::ostringstream os;
    os << line << ' ' << levelName(record.level) << " [" << record.logger << "] [" << record.threadName
       << "] " << record.function << ": " << record.message << '\n';
    std::cerr << os.str();
}

void StderrLogSink::flush() {
    std::cerr.flush();
}

void setSink(std::shared_ptr<LogSink> sink) {
    auto& r = registry();
    std::lock_guard lock(r.sinkMutex);
    r.sink = sink ? std::move(sink) : std::make_shared<StderrLogSink>();
}

std::shared_ptr<LogSink> getSink() {
    auto& r = registry();
    std::lock_guard lock(r.sinkMutex);
    return r.sink;
}

void setDefaultLevel(int level) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    r.defaultLevel = level;
    for (auto& [name, data] : r.loggers) {
        if (!data->hasOwnLevel) {
            data->level.store(level);
        }
    }
}

int getDefaultLevel() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return r.defaultLevel;
}

namespace {
OXLLoggerData& loggerLocked(Registry& r, const std::string& name) {
    auto it = r.loggers.find(name);
    if (it == r.loggers.end()) {
        auto data = std::make_unique<OXLLoggerData>();
        data->name = name;
        data->level.store(r.defaultLevel);
        it = r.loggers.emplace(name, std::move(data)).first;
    }
    return *it->second;
}
}  // namespace

void setLevel(const std::string& loggerName, int level) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto& data = loggerLocked(r, loggerName);
    data.hasOwnLevel = true;
    data.level.store(level);
}

void clearLevel(const std::string& loggerName) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto& data = loggerLocked(r, loggerName);
    data.hasOwnLevel = false;
    data.level.store(r.defaultLevel);
}

void clearLevels() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (auto& [name, data] : r.loggers) {
        data->hasOwnLevel = false;
        data->level.store(r.defaultLevel);
    }
}

const char* levelName(int level) {
    switch (level) {
        case OXL_LEVEL_ERROR:
            return "ERROR";
        case OXL_LEVEL_WARN:
            return "WARN";
        case OXL_LEVEL_INFO:
            return "INFO";
        case OXL_LEVEL_DEBUG:
            return "DEBUG";
        case OXL_LEVEL_TRACE:
            return "TRACE";
        default:
            return level < OXL_LEVEL_ERROR ? "FATAL" : "TRACE";
    }
}

std::string qualifiedFunctionName(const char* signature) {
    if (signature == nullptr) {
        return {};
    }
    std::string s(signature);
    // Cut the parameter list: the first '(' at template depth 0 that is not part of "operator()".
    int depth = 0;
    size_t end = std::string::npos;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '<') {
            ++depth;
        } else if (c == '>') {
            --depth;
        } else if (c == '(' && depth == 0) {
            if (i >= 8 && s.compare(i - 8, 8, "operator") == 0 && i + 1 < s.size() && s[i + 1] == ')') {
                ++i;
                continue;
            }
            end = i;
            break;
        }
    }
    if (end == std::string::npos) {
        return s;
    }
    // The name starts after the last blank at template depth 0 before the parameter list (the return type).
    depth = 0;
    size_t start = 0;
    for (size_t i = end; i-- > 0;) {
        const char c = s[i];
        if (c == '>') {
            ++depth;
        } else if (c == '<') {
            --depth;
        } else if (c == ' ' && depth == 0) {
            if (i >= 8 && s.compare(i - 8, 8, "operator") == 0) {
                continue;
            }
            start = i + 1;
            break;
        }
    }
    std::string name = s.substr(start, end - start);
    while (!name.empty() && (name.front() == '*' || name.front() == '&')) {
        name.erase(0, 1);
    }
    return name;
}

}  // namespace oxl::log

OXLLogger OXLLogger_getLogger(const char* name) {
    auto& r = oxl::log::registry();
    std::lock_guard lock(r.mutex);
    return &oxl::log::loggerLocked(r, name != nullptr ? name : "");
}

bool OXLLog_isEnabled(OXLLogger logger, int level) {
    return logger != nullptr && level <= logger->level.load(std::memory_order_relaxed);
}

bool OXLLog_isDebugEnabled(OXLLogger logger) {
    return OXLLog_isEnabled(logger, OXL_LEVEL_DEBUG);
}

bool OXLLog_isTraceEnabled(OXLLogger logger) {
    return OXLLog_isEnabled(logger, OXL_LEVEL_TRACE);
}

void OXLLog(OXLLogger logger, int level, const char* sourceFile, int line, const char* functionName,
            const std::string& message) {
    if (!OXLLog_isEnabled(logger, level)) {
        return;
    }
    oxl::log::LogRecord record;
    record.logger = logger->name;
    record.level = level;
    record.sourceFile = sourceFile != nullptr ? sourceFile : "";
    record.line = line;
    record.function = oxl::log::qualifiedFunctionName(functionName);
    record.message = message;
    record.threadName = oxl::log::currentThreadName();
    record.time = std::chrono::system_clock::now();
    if (auto sink = oxl::log::getSink()) {
        sink->write(record);
    }
}

void OXLLogger_flush() {
    if (auto sink = oxl::log::getSink()) {
        sink->flush();
    }
}
