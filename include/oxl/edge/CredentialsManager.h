// Where the edge session takes the user's credentials from, and whom it tells what the edge thought of
// them. Implemented by the library's user; DefaultCredentialsManager holds credentials the host sets.
// Called on the global edge state's threads without any of its locks held.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "oxl/edge/Credentials.h"

namespace oxl::edge {

class CredentialsManager {
  public:
    virtual ~CredentialsManager();
    // The credentials to use now; null when there are none.
    virtual std::shared_ptr<Credentials> getCredentials() = 0;
    // The edge accepted these credentials (a configuration was fetched with them).
    virtual void onCredentialsAccepted(const Credentials& credentials) = 0;
    // The edge refused these credentials; no request is sent with them again until they change.
    virtual void onCredentialsRejected(const Credentials& credentials) = 0;
    // The edge reported that the OAuth token of these credentials has expired.
    virtual void onOAuthTokenExpired(const Credentials& credentials) = 0;
};

class DefaultCredentialsManager : public CredentialsManager {
  public:
    DefaultCredentialsManager() = default;
    explicit DefaultCredentialsManager(const Credentials& credentials);

    void setCredentials(const Credentials& credentials);
    void clearCredentials();

    // A copy, so that callers never see a later change half done.
    std::shared_ptr<Credentials> getCredentials() override;
    void onCredentialsAccepted(const Credentials& credentials) override;
    void onCredentialsRejected(const Credentials& credentials) override;
    void onOAuthTokenExpired(const Credentials& credentials) override;

    unsigned int getAcceptedCount() const { return accepted_; }
    unsigned int getRejectedCount() const { return rejected_; }
    unsigned int getExpiredCount() const { return expired_; }

  private:
    std::mutex mutex_;
    std::shared_ptr<Credentials> credentials_;
    std::atomic<unsigned int> accepted_{0};
    std::atomic<unsigned int> rejected_{0};
    std::atomic<unsigned int> expired_{0};
};

}  // namespace oxl::edge
