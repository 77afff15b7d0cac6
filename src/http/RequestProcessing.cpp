// The processing thread's life and loop; the intake of requests and the end of transfers are in
// RequestProcessingTransfers.cpp.
#include "http/RequestProcessing.h"

#include <cstdio>
#include <system_error>
#include <utility>

#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpRequestData.h"
#include "oxl/http/MultiHttpClientData.h"
#include "oxl/http/MultiHttpClientImpl.h"
#include "oxl/log/Log.h"
#include "oxl/runtime/Thread.h"

namespace oxl::http {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.httpclient");
    return l;
}

// The processing whose enqueue task runs on this thread, so that a stop from inside that task does not
// wait for itself.
thread_local const RequestProcessing* servingProcessing = nullptr;

const char* multiCodeName(CURLMcode code) {
    switch (code) {
        case CURLM_CALL_MULTI_PERFORM:
            return "CURLM_CALL_MULTI_PERFORM";
        case CURLM_BAD_HANDLE:
            return "CURLM_BAD_HANDLE";
        case CURLM_BAD_EASY_HANDLE:
            return "CURLM_BAD_EASY_HANDLE";
        case CURLM_OUT_OF_MEMORY:
            return "CURLM_OUT_OF_MEMORY";
        case CURLM_INTERNAL_ERROR:
            return "CURLM_INTERNAL_ERROR";
        case CURLM_BAD_SOCKET:
            return "CURLM_BAD_SOCKET";
        case CURLM_UNKNOWN_OPTION:
            return "CURLM_UNKNOWN_OPTION";
        case CURLM_LAST:
            return "CURLM_LAST";
        default:
            return nullptr;
    }
}
}  // namespace

void RequestProcessing::MultiDeleter::operator()(CURLM* multi) const {
    curl_multi_cleanup(multi);
}

RequestProcessing::RequestProcessing(uint16_t clientNumber,
                                     std::shared_ptr<oxl::dns::DnsHostResolver> resolver,
                                     unsigned int unresolvedHostTimeoutSec)
    : clientNumber_(clientNumber), multi_(curl_multi_init()), hostCache_(std::move(resolver)) {
    hostCache_.setTimeoutInSec(unresolvedHostTimeoutSec);
    if (multi_ && curl_multi_setopt(multi_.get(), CURLMOPT_MAXCONNECTS, MAX_CACHED_CONNECTIONS) != CURLM_OK) {
        OXL_LOG_WARN(logger(), "Could not set CURLMOPT_MAXCONNECTS, libcurl's own limit applies");
    }
}

RequestProcessing::~RequestProcessing() {
    // Only reached on the processing thread itself when its owner let go from inside a notification.
    if (thread_.joinable()) {
        thread_.detach();
    }
}

std::string RequestProcessing::threadName(const char* prefix, uint16_t clientNumber) {
    char name[32];
    std::snprintf(name, sizeof name, "%s-%04x", prefix, static_cast<unsigned int>(clientNumber));
    return name;
}

bool RequestProcessing::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!multi_) {
        OXL_LOG_ERROR(logger(), "curl_multi_init() failed");
    } else {
        try {
            pool_ = std::make_unique<oxl::ThreadPool>(
                MultiHttpClientImpl::ENQUEUE_POOL_MIN_THREADS, MultiHttpClientImpl::ENQUEUE_POOL_MAX_THREADS,
                threadName(MultiHttpClientImpl::ENQUEUE_POOL_NAME, clientNumber_),
                MultiHttpClientImpl::ENQUEUE_POOL_IDLE_SECONDS);
            running_ = true;
            // The thread keeps this object alive until its loop has ended.
            thread_ = std::thread([self = shared_from_this()] { self->run(); });
            threadId_ = thread_.get_id();
            return true;
        } catch (const std::system_error& e) {
            OXL_LOG_ERROR(logger(), "Cannot start a thread: " << e.what());
        }
    }
    running_ = false;
    pool_.reset();
    OXL_LOG_ERROR(logger(), "The thread could not be started to process the requests.");
    OXL_LOG_ERROR(logger(), "Preventing any new incoming requests to be submitted.");
    return false;
}

void RequestProcessing::stop() {
    std::unique_ptr<oxl::ThreadPool> pool;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_ = false;
        pool = std::move(pool_);
    }
    changed_.notify_all();
    wake();
    // Queued intakes are dropped; their requests stay held and are reported below.
    pool.reset();
    {
        std::unique_lock<std::mutex> lock(mutex_);
        const unsigned int self = servingProcessing == this ? 1 : 0;
        changed_.wait(lock, [&] { return tasksRunning_ <= self; });
    }
    if (!thread_.joinable()) {
        OXL_LOG_DEBUG(logger(), "Thread is not running.");
    } else if (onProcessingThread()) {
        // Stopped from a listener on the processing thread: the loop ends when the notification returns and
        // reports what is still held on its way out.
        OXL_LOG_WARN(logger(), "Could not join the processing thread.");
        {
            std::lock_guard<std::mutex> lock(mutex_);
            detached_ = true;
        }
        thread_.detach();
        return;
    } else {
        OXL_LOG_DEBUG(logger(), "Attempting to join the processing thread.");
        thread_.join();
    }
    OXL_LOG_DEBUG(logger(), "waiting on _mutex");
    OXL_LOG_DEBUG(logger(), " number of active transfers: " << activeCount());
    drainAll(HttpClientResult::REQUEST_LOST);
}

bool RequestProcessing::isAvailable() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return running_;
}

bool RequestProcessing::submit(const std::shared_ptr<MultiHttpClientData>& data) {
    const unsigned int id = data->getHttpRequestData()->getRequestId();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || !pool_) {
        return false;
    }
    held_[id] = data;
    pool_->enqueue(std::make_shared<EnqueueClientDataTask>(weak_from_this(), data));
    return true;
}

bool RequestProcessing::post(const std::shared_ptr<MultiHttpClientData>& data) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_ || !pool_) {
        return false;
    }
    pool_->enqueue(std::make_shared<EnqueueClientDataTask>(weak_from_this(), data));
    return true;
}

void RequestProcessing::setPipelining(bool enabled) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!running_) {
            OXL_LOG_WARN(logger(), "The processing thread does not run; pipelining is left as it is.");
            return;
        }
        pipelining_ = enabled;
    }
    wake();
}

void RequestProcessing::applyPipelining(bool enabled) {
    if (!multi_) {
        return;
    }
    // HTTP/1.1 pipelining is gone from libcurl; multiplexing over HTTP/2 is what remains to switch.
    const long mode = enabled ? CURLPIPE_MULTIPLEX : CURLPIPE_NOTHING;
    const CURLMcode code = curl_multi_setopt(multi_.get(), CURLMOPT_PIPELINING, mode);
    OXL_LOG_DEBUG(logger(), "CURLMOPT_PIPELINING " << mode << " answered " << static_cast<int>(code) << " ("
                                                   << curl_multi_strerror(code) << ")");
    if (code == CURLM_OK) {
        const char* done = enabled ? "Successfully enabled pipelining support."
                                   : "Successfully disabled pipelining support.";
        OXL_LOG_INFO(logger(), done);
    } else if (enabled) {
        OXL_LOG_ERROR(logger(), "Could not enable HTTP pipelining support, CURL error: " << code);
    } else {
        OXL_LOG_ERROR(logger(), "Could not disable HTTP pipelining support, CURL error: " << code);
    }
}

void RequestProcessing::cancelAll() {
    uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [id, data] : held_) {
            if (auto request = data->getHttpRequestData()->getRequest()) {
                request->cancel();
            }
        }
        generation = ++cancelRequested_;
        if (!running_ || onProcessingThread()) {
            // Nothing to wait for: a stopped client reports what it held itself, and the processing thread
            // ends these requests after the current notification.
            return;
        }
    }
    wake();
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return cancelDone_ >= generation || !running_; });
}

std::size_t RequestProcessing::heldCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_.size();
}

std::size_t RequestProcessing::activeCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return active_.size();
}

bool RequestProcessing::beginTask() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) {
        return false;
    }
    ++tasksRunning_;
    servingProcessing = this;
    return true;
}

void RequestProcessing::endTask() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        --tasksRunning_;
        servingProcessing = nullptr;
    }
    changed_.notify_all();
}

bool RequestProcessing::onProcessingThread() const {
    return std::this_thread::get_id() == threadId_;
}

void RequestProcessing::wake() {
    newRequest_.set();
    if (multi_) {
        curl_multi_wakeup(multi_.get());
    }
}

void RequestProcessing::run() {
    oxl::Thread::setCurrentThreadName(threadName(MultiHttpClientImpl::PROCESSING_THREAD_NAME, clientNumber_));
    OXL_LOG_INFO(logger(), "Running MultiHttpClient processing thread loop.");
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!running_) {
                break;
            }
        }
        performTransferRequests();
        if (shouldWaitForNewEvents()) {
            OXL_LOG_DEBUG(logger(), "waiting for new requests");
            newRequest_.wait(NEW_REQUEST_WAIT_MS);
            OXL_LOG_DEBUG(logger(), "finished waiting for new requests");
        }
    }
    bool detached = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        detached = detached_;
    }
    if (detached) {
        drainAll(HttpClientResult::REQUEST_LOST);
    }
    OXL_LOG_INFO(logger(), "Exiting MultiHttpClient processing thread.");
}

bool RequestProcessing::shouldWaitForNewEvents() {
    bool wait = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        wait = running_ && active_.empty() && pending_.empty() && !pipelining_ &&
               cancelDone_ == cancelRequested_;
        if (wait) {
            // Whatever is added from here on sets it again.
            newRequest_.reset();
        }
    }
    OXL_LOG_DEBUG(logger(), "shouldWaitForNewEvents: " << std::boolalpha << wait);
    return wait;
}

CURLMcode RequestProcessing::perform(int& runningHandles) {
    const CURLMcode code = curl_multi_perform(multi_.get(), &runningHandles);
    if (code != CURLM_OK) {
        const char* name = multiCodeName(code);
        if (name != nullptr) {
            OXL_LOG_ERROR(logger(), "curl_multi_perform() returned " << name);
        } else {
            OXL_LOG_ERROR(logger(), "curl_multi_perform() returned an unknown value.");
        }
    }
    return code;
}

void RequestProcessing::performTransferRequests() {
    OXL_LOG_DEBUG(logger(), "Starting performTransferRequests.");
    applyCommands();
    addPendingTransfers();
    int running = 0;
    perform(running);
    checkTransfersAndNotifyListeners();
    int reported = running;
    while (running > 0 || activeCount() > 0) {
        if (!isAvailable()) {
            break;
        }
        // libcurl shortens the wait to its own next time-out; curl_multi_wakeup ends it at once.
        if (curl_multi_poll(multi_.get(), nullptr, 0, MULTI_WAIT_MS, nullptr) != CURLM_OK) {
            OXL_LOG_ERROR(logger(), "curl_multi_wait() did not return successfully.");
            break;
        }
        applyCommands();
        addPendingTransfers();
        sweepCancelledTransfers();
        perform(running);
        if (running != reported) {
            OXL_LOG_DEBUG(logger(), "Current running handles: " << running);
            reported = running;
        }
        checkTransfersAndNotifyListeners();
    }
    OXL_LOG_DEBUG(logger(), ". Finished performTransferRequests.");
}

void RequestProcessing::applyCommands() {
    std::optional<bool> pipelining;
    bool cancel = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pipelining = std::exchange(pipelining_, std::nullopt);
        cancel = cancelDone_ != cancelRequested_;
    }
    if (pipelining) {
        applyPipelining(*pipelining);
    }
    if (cancel) {
        cancelHeldRequests();
    }
}

}  // namespace oxl::http
