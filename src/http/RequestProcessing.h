// The working part of the multi client: one libcurl multi handle driven by one processing thread, fed by
// an enqueue pool that polices and configures each request.
//
//   caller        submit(): the request is held and an EnqueueClientDataTask is queued on the pool
//   enqueue pool  enqueueClientData(): edge policy, host check (unresolved-host cache), easy-handle
//                 configuration; the request goes to the pending list and the processing thread is woken
//                 (curl_multi_wakeup, or the new-request event while it idles)
//   processing    run(): adds pending handles to the multi handle, performs, polls, reads finished
//                 transfers; a server failure with a URL left goes back to the pool with the next URL,
//                 anything else is read back, reported as a network event and told to the listener
//
// Only the processing thread calls into the multi handle (curl_multi_wakeup excepted), so a caller never
// waits for a poll to end. Each held request is reported exactly once (MultiHttpClientData::
// claimNotification), whichever thread ends it: completion or failure, REQUEST_CANCELLED after
// cancelAll(), REQUEST_LOST when the client stops first.
#pragma once

#include <curl/curl.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "oxl/http/HttpClientResult.h"
#include "oxl/http/UnresolvedHostCache.h"
#include "oxl/runtime/Event.h"
#include "oxl/runtime/Task.h"
#include "oxl/runtime/ThreadPool.h"

namespace oxl::dns {
class DnsHostResolver;
}

namespace oxl::http {

class HttpRequestData;
class MultiHttpClientData;

class RequestProcessing : public std::enable_shared_from_this<RequestProcessing> {
  public:
    // Longest wait of an idle processing thread, and of one poll while transfers run.
    static constexpr long NEW_REQUEST_WAIT_MS = 30000;
    static constexpr int MULTI_WAIT_MS = 20000;
    // Idle connections the multi handle keeps. libcurl's own limit is four per transfer still added, so it
    // would close most connections of a burst as its last transfers end, just before the next burst.
    static constexpr long MAX_CACHED_CONNECTIONS = 256;

    RequestProcessing(uint16_t clientNumber, std::shared_ptr<oxl::dns::DnsHostResolver> resolver,
                      unsigned int unresolvedHostTimeoutSec);
    ~RequestProcessing();
    RequestProcessing(const RequestProcessing&) = delete;
    RequestProcessing& operator=(const RequestProcessing&) = delete;

    // "MHttp-P-002a": the prefix, a dash and the client number in four hexadecimal digits.
    static std::string threadName(const char* prefix, uint16_t clientNumber);

    // Starts the enqueue pool and the processing thread; false (logged) when either cannot start, and the
    // client then refuses requests.
    bool start();
    // Refuses new requests, drops queued work, waits for the enqueue tasks that are running and for the
    // processing thread (unless called from it: its loop then ends after the current notification), and
    // reports every request still held as REQUEST_LOST.
    void stop();
    bool isAvailable() const;

    // Holds the request and queues its intake; false when the processing side is stopped.
    bool submit(const std::shared_ptr<MultiHttpClientData>& data);
    // HTTP/2 multiplexing (CURLMOPT_PIPELINING) on or off for transfers added from now on; applied and
    // logged by the processing thread.
    void setPipelining(bool enabled);
    // Flags every held request as cancelled and has the processing thread end them; waits until it has
    // (unless called from that thread, or when it does not run).
    void cancelAll();

    std::size_t heldCount() const;
    std::size_t activeCount() const;

    // The intake of one request, on an enqueue-pool thread.
    void enqueueClientData(const std::shared_ptr<MultiHttpClientData>& data);

  private:
    friend class EnqueueClientDataTask;

    struct MultiDeleter {
        void operator()(CURLM* multi) const;
    };

    void run();
    void performTransferRequests();
    bool shouldWaitForNewEvents();
    void wake();
    CURLMcode perform(int& runningHandles);

    void applyCommands();
    void applyPipelining(bool enabled);
    void cancelHeldRequests();
    void addPendingTransfers();
    void sweepCancelledTransfers();
    void checkTransfersAndNotifyListeners();
    void finishTransfer(const std::shared_ptr<MultiHttpClientData>& data, CURLcode code);

    // Ends a request that never reached the multi handle or was taken out of it early.
    void endRequest(const std::shared_ptr<MultiHttpClientData>& data, HttpClientResult::Result result,
                    bool reportNetworkEvent);
    // Drops the request from the held ones and tells its listener, unless another thread already has.
    void notifyOnce(const std::shared_ptr<MultiHttpClientData>& data, HttpClientResult::Result result);
    void notify(const std::shared_ptr<MultiHttpClientData>& data, HttpClientResult::Result result);
    // Queues the request's intake again (after a failover); false when stopped.
    bool post(const std::shared_ptr<MultiHttpClientData>& data);
    void drainAll(HttpClientResult::Result result);
    bool checkHost(HttpRequestData& requestData);

    bool beginTask();
    void endTask();
    bool onProcessingThread() const;

    const uint16_t clientNumber_;
    std::unique_ptr<CURLM, MultiDeleter> multi_;
    UnresolvedHostCache hostCache_;
    // Signalled when the pending list or a command changes, for an idle processing thread.
    oxl::Event newRequest_{false};

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool running_ = false;
    // The owner stopped from the processing thread itself, which then reports what is left as it ends.
    bool detached_ = false;
    std::unique_ptr<oxl::ThreadPool> pool_;
    std::thread thread_;
    std::thread::id threadId_;
    // Accepted and not yet reported, by request id.
    std::unordered_map<unsigned int, std::shared_ptr<MultiHttpClientData>> held_;
    // Configured, waiting for the processing thread to add them.
    std::deque<std::shared_ptr<MultiHttpClientData>> pending_;
    // In the multi handle, by easy handle.
    std::unordered_map<CURL*, std::shared_ptr<MultiHttpClientData>> active_;
    std::optional<bool> pipelining_;
    uint64_t cancelRequested_ = 0;
    uint64_t cancelDone_ = 0;
    unsigned int tasksRunning_ = 0;
};

// Runs the intake of one request on the enqueue pool. A task dropped unrun leaves the request held, and
// the client's stop reports it.
class EnqueueClientDataTask : public oxl::Task {
  public:
    EnqueueClientDataTask(std::weak_ptr<RequestProcessing> processing,
                          std::shared_ptr<MultiHttpClientData> data);
    void execute() override;

  private:
    std::weak_ptr<RequestProcessing> processing_;
    std::shared_ptr<MultiHttpClientData> data_;
};

}  // namespace oxl::http
