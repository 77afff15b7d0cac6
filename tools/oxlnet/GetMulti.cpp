#include "oxlnet/GetMulti.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>

#include "oxl/http/HttpClientListener.h"
#include "oxl/http/HttpUtils.h"
#include "oxl/http/MultiHttpClientImpl.h"

namespace oxlnet {

namespace {

using Clock = std::chrono::steady_clock;
using oxl::http::HttpClientResult;

struct Outcome {
    unsigned int id = 0;
    HttpClientResult::Result result = HttpClientResult::UNKNOWN_ERROR;
    int status = 0;
    std::string body;
};

// Hands every notification to the command's thread.
class QueueListener : public oxl::http::HttpClientListener {
  public:
    void onRequestFailed(unsigned int id, HttpClientResult::Result result) override {
        push({id, result, 0, {}});
    }
    void onRequestCompleted(unsigned int id, oxl::http::Response& response) override {
        push({id, HttpClientResult::SUCCESS, response.responseCode, response.getBodyAsString()});
    }
    Outcome pop() {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !outcomes_.empty(); });
        Outcome o = std::move(outcomes_.front());
        outcomes_.pop_front();
        return o;
    }

  private:
    void push(Outcome o) {
        std::lock_guard<std::mutex> lock(mutex_);
        outcomes_.push_back(std::move(o));
        ready_.notify_one();
    }
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<Outcome> outcomes_;
};

struct Started {
    std::string url;
    std::string file;
    Clock::time_point at;
};

}  // namespace

std::string bodyFileName(std::size_t number, const std::string& url) {
    std::string path = oxl::http::HttpUtils::extractRequestFromHttpUrl(url);
    path = path.substr(0, path.find_first_of("?#"));
    const auto slash = path.find_last_of('/');
    std::string name;
    for (char c : slash == std::string::npos ? path : path.substr(slash + 1)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '_' || c == '-';
        if (plain && name.size() < 64) {
            name += c;
        }
    }
    if (name.empty() || name == "." || name == "..") {
        name = "body";
    }
    return std::to_string(number) + "-" + name;
}

int runMultiGet(const MultiGet& plan, std::shared_ptr<oxl::http::CertVerifier> verifier,
                std::shared_ptr<oxl::http::HttpNetworkEventReporter> reporter) {
    auto client = oxl::http::MultiHttpClientImpl::buildMultiHttpClientImpl(nullptr, std::move(verifier),
                                                                           std::move(reporter));
    for (const auto& policy : plan.policies) {
        client->addPolicy(policy);
    }
    auto listener = std::make_shared<QueueListener>();
    std::map<unsigned int, Started> running;
    std::size_t next = 0;
    std::size_t done = 0;
    bool allGood = true;
    auto report = [&](const Started& s, HttpClientResult::Result result, int status, std::size_t bytes) {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - s.at).count();
        std::cout << s.url << " -> " << result << ", " << status << ", " << bytes << " bytes, " << ms << " ms"
                  << std::endl;
        allGood = allGood && result == HttpClientResult::SUCCESS;
        ++done;
    };

    while (done < plan.urls.size()) {
        while (next < plan.urls.size() && running.size() < plan.parallel) {
            const std::string& url = plan.urls[next];
            Started s{url, {}, Clock::now()};
            auto request = plan.makeRequest(url);
            request->setListener(listener);
            unsigned int id = 0;
            oxl::http::HttpClientError::Error queued;
            if (plan.outputDir.empty()) {
                queued = client->enqueueRequest(request, id);
            } else {
                s.file = (std::filesystem::path(plan.outputDir) / bodyFileName(next + 1, url)).string();
                queued = client->enqueueDownloadRequest(request, s.file, id);
            }
            ++next;
            if (queued != oxl::http::HttpClientError::SUCCESS) {
                std::cout << url << " -> refused: " << queued << std::endl;
                allGood = false;
                ++done;
                continue;
            }
            running.emplace(id, std::move(s));
        }
        if (running.empty()) {
            continue;
        }
        const Outcome o = listener->pop();
        const auto it = running.find(o.id);
        if (it == running.end()) {
            continue;
        }
        std::size_t bytes = o.body.size();
        if (!it->second.file.empty() && o.result == HttpClientResult::SUCCESS) {
            std::error_code error;
            if (o.body.empty() && std::filesystem::exists(it->second.file, error)) {
                bytes = static_cast<std::size_t>(std::filesystem::file_size(it->second.file, error));
            } else {
                // Only a 200 body is streamed to the file; any other is kept as well.
                std::ofstream(it->second.file, std::ios::binary) << o.body;
            }
        }
        report(it->second, o.result, o.status, bytes);
        running.erase(it);
    }
    return allGood ? 0 : 1;
}

}  // namespace oxlnet
