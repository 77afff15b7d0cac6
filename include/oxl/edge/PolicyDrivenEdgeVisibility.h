// Edge visibility as detected, read back through the edge capability policy of its policy driver. The raw
// value is never changed by the policy, so removing the policy restores what detection found.
#pragma once

#include <memory>

#include "oxl/common/PolicyDriven.h"

namespace oxl::edge {

class PolicyDrivenEdgeVisibility {
  public:
    explicit PolicyDrivenEdgeVisibility(bool visible = false);
    PolicyDrivenEdgeVisibility(const PolicyDrivenEdgeVisibility&) = default;
    PolicyDrivenEdgeVisibility& operator=(const PolicyDrivenEdgeVisibility&) = default;

    void setVisible(bool visible) { visible_ = visible; }
    void setPolicyDriver(std::weak_ptr<oxl::common::PolicyDriven> driver) {
        policyDriver_ = std::move(driver);
    }

    // The raw value with the driver's EDGE_CAPABILITY policy applied.
    bool isVisible() const;
    bool getRawValue() const { return visible_; }

    // Compare what isVisible() reports on both sides.
    bool operator==(const PolicyDrivenEdgeVisibility& other) const {
        return isVisible() == other.isVisible();
    }
    bool operator!=(const PolicyDrivenEdgeVisibility& other) const { return !(*this == other); }

  private:
    bool visible_;
    std::weak_ptr<oxl::common::PolicyDriven> policyDriver_;
};

}  // namespace oxl::edge
