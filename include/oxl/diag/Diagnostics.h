// The diagnostics library: modules hand it records about what they observed (the edge request URL, DNS
// outcomes, visibility answers, certificate verifications). Where records go is up to the host's sink; by
// default the most recent ones are kept in memory.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace OXLDiagnostics {

struct DiagnosticsRecord {
    int recordType = 0;
    int section = 0;
    std::string name;
    std::string value;
    long number = 0;
    std::string text;
    std::chrono::system_clock::time_point time;
};

class DiagnosticsSink {
  public:
    virtual ~DiagnosticsSink() = default;
    virtual void addRecord(const DiagnosticsRecord& record) = 0;
};

// Keeps the most recent records, oldest dropped first.
class MemoryDiagnosticsSink : public DiagnosticsSink {
  public:
    static constexpr std::size_t DEFAULT_CAPACITY = 512;
    explicit MemoryDiagnosticsSink(std::size_t capacity = DEFAULT_CAPACITY);
    void addRecord(const DiagnosticsRecord& record) override;
    std::vector<DiagnosticsRecord> records() const;
    void clear();

  private:
    std::size_t capacity_;
    mutable std::mutex mutex_;
    std::deque<DiagnosticsRecord> records_;
};

class DiagnosticsWrapper {
  public:
    static void AddRecord(int recordType, int section, const std::string& name, const std::string& value,
                          long number, const std::string& text);
    // Null restores the default in-memory sink.
    static void setSink(std::shared_ptr<DiagnosticsSink> sink);
    static std::shared_ptr<DiagnosticsSink> getSink();
    // The records held by the default sink (empty when the host installed its own).
    static std::vector<DiagnosticsRecord> recentRecords();
};

}  // namespace OXLDiagnostics
