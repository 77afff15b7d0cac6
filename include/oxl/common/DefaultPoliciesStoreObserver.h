// Implemented by objects that want to hear about changes of the process-wide default policies.
#pragma once

namespace oxl::common {

class DefaultPoliciesStoreObserver {
  public:
    virtual ~DefaultPoliciesStoreObserver() = default;
    virtual void onDefaultPoliciesStoreUpdate() = 0;
};

}  // namespace oxl::common
