// The logging library every module writes through.
//
// A logger handle is obtained once per source file with OXLLogger_getLogger(name) and stays valid for the
// life of the process. Levels: 2 error, 3 warning, 4 info, 5 debug, 6 trace. The OXL_LOG_* macros build the
// message only when the level is enabled for that logger.
#pragma once

#include <chrono>
#include <memory>
#include <sstream>
#include <string>

struct OXLLoggerData;
using OXLLogger = OXLLoggerData*;

enum OXLLogLevel : int {
    OXL_LEVEL_ERROR = 2,
    OXL_LEVEL_WARN = 3,
    OXL_LEVEL_INFO = 4,
    OXL_LEVEL_DEBUG = 5,
    OXL_LEVEL_TRACE = 6,
};

OXLLogger OXLLogger_getLogger(const char* name);
// functionName may be a qualified name or a compiler signature (__PRETTY_FUNCTION__); signatures are reduced
// to the qualified name ("oxl::edge::EdgeConfigRequestImpl::execute").
void OXLLog(OXLLogger logger, int level, const char* sourceFile, int line, const char* functionName,
            const std::string& message);
bool OXLLog_isEnabled(OXLLogger logger, int level);
bool OXLLog_isDebugEnabled(OXLLogger logger);
bool OXLLog_isTraceEnabled(OXLLogger logger);
void OXLLogger_flush();

namespace oxl::log {

struct LogRecord {
    std::string logger;
    int level = OXL_LEVEL_INFO;
    std::string sourceFile;
    int line = 0;
    std::string function;
    std::string message;
    std::string threadName;
    std::chrono::system_clock::time_point time;
};

// Destination of log records; a host installs its own with setSink. write() may be called from any thread.
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void write(const LogRecord& record) = 0;
    virtual void flush() {}
};

// Writes one line per record to standard error.
class StderrLogSink : public LogSink {
  public:
    void write(const LogRecord& record) override;
    void flush() override;
};

// Installs a sink; null restores the default standard-error sink.
void setSink(std::shared_ptr<LogSink> sink);
std::shared_ptr<LogSink> getSink();

// The level used by loggers without a level of their own (default: warnings and above).
void setDefaultLevel(int level);
int getDefaultLevel();
// A per-logger level overrides the default; clearLevel/clearLevels return loggers to the default.
void setLevel(const std::string& loggerName, int level);
void clearLevel(const std::string& loggerName);
void clearLevels();

const char* levelName(int level);
// "int oxl::a::B::f(int) const" -> "oxl::a::B::f"
std::string qualifiedFunctionName(const char* signature);

}  // namespace oxl::log

#define OXL_LOG(logger, level, streamExpr)                                                           \
    do {                                                                                             \
        if (OXLLog_isEnabled((logger), (level))) {                                                   \
            std::ostringstream oxlLogStream_;                                                        \
            oxlLogStream_ << streamExpr;                                                             \
            OXLLog((logger), (level), __FILE__, __LINE__, __PRETTY_FUNCTION__, oxlLogStream_.str()); \
        }                                                                                            \
    } while (0)

#define OXL_LOG_ERROR(logger, streamExpr) OXL_LOG(logger, OXL_LEVEL_ERROR, streamExpr)
#define OXL_LOG_WARN(logger, streamExpr) OXL_LOG(logger, OXL_LEVEL_WARN, streamExpr)
#define OXL_LOG_INFO(logger, streamExpr) OXL_LOG(logger, OXL_LEVEL_INFO, streamExpr)
#define OXL_LOG_DEBUG(logger, streamExpr) OXL_LOG(logger, OXL_LEVEL_DEBUG, streamExpr)
#define OXL_LOG_TRACE(logger, streamExpr) OXL_LOG(logger, OXL_LEVEL_TRACE, streamExpr)
