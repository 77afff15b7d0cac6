#include "oxlnet/DemoSandbox.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include "oxl/cert/common/InvalidCertNotificationManager.h"
#include "oxl/http/NamePinning.h"
#include "oxl/netutils/GlobalEdgeStateController.h"

namespace oxlnet::demo {

int StateRecorder::configs() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return configs_;
}

int StateRecorder::visibilityChanges() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return visibility_;
}

bool StateRecorder::waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, timeout, [&] {
        // The condition asks the state, whose notices take this lock: not held while asking.
        lock.unlock();
        const bool holds = condition();
        lock.lock();
        return holds;
    });
}

void StateRecorder::bump(int& counter) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++counter;
    }
    cv_.notify_all();
}

std::vector<std::string> RecordingEventReporter::take() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::exchange(labels_, {});
}

void RecordingEventReporter::add(const std::string& label) {
    const std::lock_guard<std::mutex> lock(mutex_);
    labels_.push_back(label);
}

void RejectingPrompt::onInvalidCertRequest(const oxl::cert::InvalidCertRequest& request) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        prompts_.push_back(request);
    }
    if (request.canTakeDecision) {
        oxl::cert::InvalidCertNotificationManager::getInstance()->rejectInvalidCert(
            request.texts.fingerprint);
    }
}

std::vector<oxl::cert::InvalidCertRequest> RejectingPrompt::prompts() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return prompts_;
}

oxl::sandbox::DnsSandboxRecords DemoSandbox::outsideRecords() const {
    return oxl::sandbox::DnsSandboxRecords()
        .addSrv(std::string("_brisel-edge._tls.") + EXTERNAL_DOMAIN, EDGE1, edge->port(0), 10, 0)
        .addSrv(std::string("_brisel-edge._tls.") + EXTERNAL_DOMAIN, EDGE2, edge->port(1), 20, 0)
        .addA(EDGE1, "127.0.0.1")
        .addA(EDGE2, "127.0.0.1")
        .addAaaa("ipv4only.arpa", "64:ff9b::c000:aa")
        .addLocalDomain(INTERNAL_DOMAIN)
        .addLocalDomain(EXTERNAL_DOMAIN);
}

oxl::sandbox::DnsSandboxRecords DemoSandbox::insideRecords() const {
    return outsideRecords().addSrv(std::string("_pelko-zds._tcp.") + INTERNAL_DOMAIN, "127.0.0.1",
                                   intranet->port(), 10, 0);
}

std::string DemoSandbox::token() const {
    return oxl::sandbox::EdgeSandbox::tokenizedBaseUrl(INTERNAL_DOMAIN, "http", "127.0.0.1",
                                                       intranet->port());
}

void DemoSandbox::close() {
    client.reset();
    if (state) {
        if (recorder) {
            state->removeObserver(recorder);
        }
        state->stop();
        state.reset();
    }
    oxl::netutils::GlobalEdgeStateController::reset();
    if (prompt) {
        oxl::cert::InvalidCertNotificationManager::getInstance()->registerInvalidCertListener(nullptr);
    }
    for (const auto& [host, port] : pins) {
        oxl::http::NamePinning::instance().unpin(host, port);
    }
    dnsServer.reset();
    dns.reset();
    if (edge) {
        edge->stop();
    }
    if (intranet) {
        intranet->stop();
    }
    if (untrusted) {
        untrusted->stop();
    }
}

std::string randomSecret() {
    unsigned char bytes[16];
    if (RAND_bytes(bytes, sizeof bytes) != 1) {
        return {};
    }
    static const char DIGITS[] = "0123456789abcdef";
    // Reserved up front so that no partial copy is left behind in a freed buffer.
    std::string text;
    text.reserve(2 * sizeof bytes);
    for (const unsigned char b : bytes) {
        text += DIGITS[b >> 4];
        text += DIGITS[b & 0x0f];
    }
    OPENSSL_cleanse(bytes, sizeof bytes);
    return text;
}

}  // namespace oxlnet::demo
