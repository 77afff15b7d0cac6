// Told when the edge detection controller's internal or edge visibility changed.
#pragma once

namespace oxl::edge {

class VisibilityChangeObserver {
  public:
    virtual ~VisibilityChangeObserver() = default;
    virtual void onVisibilityChange() = 0;
};

}  // namespace oxl::edge
