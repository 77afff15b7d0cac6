// Shared helpers of the certificate verification tests: an application-side InvalidCertListener and a
// fixture that puts the process-wide notification manager and validity cache back into a clean state.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "oxl/cert/common/CertCacheInterface.h"
#include "oxl/cert/common/InvalidCertListener.h"
#include "oxl/cert/common/InvalidCertNotificationManager.h"
#include "oxl/common/Policy.h"
#include "support/WaitFor.h"

namespace oxl::cert::testutil {

using ::oxl::test::waitFor;

// The application's listener. In MANUAL mode the test answers prompts itself; the other modes answer a
// prompt from inside the callback, as an application that decides without showing a dialog would.
class RecordingListener : public InvalidCertListener {
  public:
    enum class Mode { MANUAL, ACCEPT, REJECT, ACCEPT_WITHOUT_OPTIONS, THROW };

    explicit RecordingListener(Mode mode = Mode::MANUAL) : mode_(mode) {}

    void onInvalidCertRequest(const InvalidCertRequest& request) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        if (!request.canTakeDecision) {
            return;
        }
        auto manager = InvalidCertNotificationManager::getInstance();
        using Options = InvalidCertNotificationManager::AcceptanceOptions;
        switch (mode_) {
            case Mode::ACCEPT:
                manager->acceptInvalidCert(request.texts.fingerprint, {Options::ACCEPT_FOR_SESSION});
                break;
            case Mode::REJECT:
                manager->rejectInvalidCert(request.texts.fingerprint);
                break;
            case Mode::ACCEPT_WITHOUT_OPTIONS:
                manager->acceptInvalidCert(request.texts.fingerprint, {});
                break;
            case Mode::THROW:
                throw std::runtime_error("dialog could not be shown");
            case Mode::MANUAL:
                break;
        }
    }

    void onRejectedInvalidCert(const InvalidCertRequest& request) override {
        std::lock_guard<std::mutex> lock(mutex_);
        rejections_.push_back(request);
    }

    std::vector<InvalidCertRequest> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::vector<InvalidCertRequest> rejections() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return rejections_;
    }
    size_t requestCount() const { return requests().size(); }

  private:
    Mode mode_;
    mutable std::mutex mutex_;
    std::vector<InvalidCertRequest> requests_;
    std::vector<InvalidCertRequest> rejections_;
};

// Every test starts with an empty cache, no pending prompts, no persist policy on the manager and (unless
// it registers one) no listener.
class CleanCertStateTest : public ::testing::Test {
  protected:
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }

    std::shared_ptr<RecordingListener> registerListener(
        RecordingListener::Mode mode = RecordingListener::Mode::MANUAL) {
        auto listener = std::make_shared<RecordingListener>(mode);
        InvalidCertNotificationManager::getInstance()->registerInvalidCertListener(listener);
        return listener;
    }

    static void reset() {
        auto manager = InvalidCertNotificationManager::getInstance();
        manager->clearForTesting();
        manager->registerInvalidCertListener(nullptr);
        manager->removePolicy(oxl::common::Policy::PolicyNature::PERSIST_INVALID_CERT_DECISION);
        CertCacheInterface::clearInvalidCertificateCache();
    }
};

}  // namespace oxl::cert::testutil
