#include "oxl/common/DefaultPoliciesStore.h"

#include <mutex>
#include <vector>

#include "oxl/common/PolicySet.h"
#include "oxl/log/Log.h"

namespace oxl::common {

namespace {
OXLLogger logger() {
    static OXLLogger l = OXLLogger_getLogger("oxl.common.DefaultPoliciesStore");
    return l;
}

using ObserverSet = std::set<std::weak_ptr<DefaultPoliciesStoreObserver>,
                             std::owner_less<std::weak_ptr<DefaultPoliciesStoreObserver>>>;

// Function-local statics so that the store is usable from other translation units' static initialisers.
struct State {
    PolicySet defaults;
    std::mutex observersMutex;
    ObserverSet observers;
};

State& state() {
    static State s;
    return s;
}
}  // namespace

void DefaultPoliciesStore::setPolicy(const std::shared_ptr<Policy>& policy) {
    if (!policy) {
        OXL_LOG_WARN(logger(), "Ignoring a null default policy");
        return;
    }
    auto& s = state();
    if (s.defaults.contains(policy)) {
        return;
    }
    s.defaults.addPolicy(policy);
    OXL_LOG_DEBUG(logger(), "Policy set : " << policy->getName() << " " << policy->getNature());
    notifyObservers();
}

std::shared_ptr<Policy> DefaultPoliciesStore::getPolicy(Policy::PolicyNature::Nature nature) {
    return state().defaults.getPolicy(nature);
}

std::set<std::shared_ptr<Policy>> DefaultPoliciesStore::getAllPolicies() {
    return state().defaults.getAll();
}

void DefaultPoliciesStore::registerForDefaultPoliciesChanges(
    const std::weak_ptr<DefaultPoliciesStoreObserver>& observer) {
    OXL_LOG_DEBUG(logger(), "Registering an observer for policies changes");
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.observersMutex);
    s.observers.insert(observer);
}

void DefaultPoliciesStore::unregister(const std::weak_ptr<DefaultPoliciesStoreObserver>& observer) {
    OXL_LOG_DEBUG(logger(), "Unregistering an observer for policies changes");
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.observersMutex);
    s.observers.erase(observer);
}

unsigned int DefaultPoliciesStore::getNumObservers() {
    auto& s = state();
    std::lock_guard<std::mutex> lock(s.observersMutex);
    return static_cast<unsigned int>(s.observers.size());
}

void DefaultPoliciesStore::reset() {
    auto& s = state();
    s.defaults.clear();
    std::lock_guard<std::mutex> lock(s.observersMutex);
    s.observers.clear();
}

void DefaultPoliciesStore::notifyObservers() {
    auto& s = state();
    std::vector<std::shared_ptr<DefaultPoliciesStoreObserver>> live;
    {
        std::lock_guard<std::mutex> lock(s.observersMutex);
        OXL_LOG_DEBUG(logger(), "Notifying my observers");
        for (auto it = s.observers.begin(); it != s.observers.end();) {
            if (auto strong = it->lock()) {
                live.push_back(std::move(strong));
                ++it;
            } else {
                it = s.observers.erase(it);
            }
        }
    }
    // Called without the lock: an observer may read the store, register others or set policies.
    for (const auto& observer : live) {
        observer->onDefaultPoliciesStoreUpdate();
    }
    if (!live.empty()) {
        OXL_LOG_DEBUG(logger(), "Notified " << live.size() << " observers");
    }
}

}  // namespace oxl::common
