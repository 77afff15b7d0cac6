// The process-wide default policies and the observers that follow them. Observers are held weakly; one that
// has gone is dropped at the next notification. Observers run on the thread that called setPolicy, without
// any store lock held, so they may call back into the store.
#pragma once

#include <memory>
#include <set>

#include "oxl/common/DefaultPoliciesStoreObserver.h"
#include "oxl/common/Policy.h"

namespace oxl::common {

class DefaultPoliciesStore {
  public:
    DefaultPoliciesStore() = delete;

    // Adds the policy (replacing one of the same nature) and notifies the observers, unless an equal
    // policy is already stored.
    static void setPolicy(const std::shared_ptr<Policy>& policy);
    static std::shared_ptr<Policy> getPolicy(Policy::PolicyNature::Nature nature);
    static std::set<std::shared_ptr<Policy>> getAllPolicies();

    static void registerForDefaultPoliciesChanges(
        const std::weak_ptr<DefaultPoliciesStoreObserver>& observer);
    static void unregister(const std::weak_ptr<DefaultPoliciesStoreObserver>& observer);
    static unsigned int getNumObservers();

    // Forgets every default policy and every observer, without notification.
    static void reset();

  private:
    static void notifyObservers();
};

}  // namespace oxl::common
