#include "oxl/diag/Diagnostics.h"

namespace OXLDiagnostics {
namespace {

struct State {
    std::mutex mutex;
    std::shared_ptr<MemoryDiagnosticsSink> defaultSink = std::make_shared<MemoryDiagnosticsSink>();
    std::shared_ptr<DiagnosticsSink> sink = defaultSink;
};

State& state() {
    static State s;
    return s;
}

}  // namespace

MemoryDiagnosticsSink::MemoryDiagnosticsSink(std::size_t capacity)
    : capacity_(capacity == 0 ? 1 : capacity) {}

void MemoryDiagnosticsSink::addRecord(const DiagnosticsRecord& record) {
    std::lock_guard lock(mutex_);
    if (records_.size() == capacity_) {
        records_.pop_front();
    }
    records_.push_back(record);
}

std::vector<DiagnosticsRecord> MemoryDiagnosticsSink::records() const {
    std::lock_guard lock(mutex_);
    return {records_.begin(), records_.end()};
}

void MemoryDiagnosticsSink::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

void DiagnosticsWrapper::AddRecord(int recordType, int section, const std::string& name,
                                   const std::string& value, long number, const std::string& text) {
    DiagnosticsRecord record{
        recordType, section, name, value, number, text, std::chrono::system_clock::now()};
    if (auto sink = getSink()) {
        sink->addRecord(record);
    }
}

void DiagnosticsWrapper::setSink(std::shared_ptr<DiagnosticsSink> sink) {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    s.sink = sink ? std::move(sink) : s.defaultSink;
}

std::shared_ptr<DiagnosticsSink> DiagnosticsWrapper::getSink() {
    auto& s = state();
    std::lock_guard lock(s.mutex);
    return s.sink;
}

std::vector<DiagnosticsRecord> DiagnosticsWrapper::recentRecords() {
    auto& s = state();
    std::shared_ptr<MemoryDiagnosticsSink> def;
    {
        std::lock_guard lock(s.mutex);
        if (s.sink != s.defaultSink) {
            return {};
        }
        def = s.defaultSink;
    }
    return def->records();
}

}  // namespace OXLDiagnostics
