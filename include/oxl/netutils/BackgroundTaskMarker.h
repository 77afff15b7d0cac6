// Marks the progress of a background job in the log, so that a stuck job can be located.
#pragma once

#include <string>

namespace oxl::netutils {

class BackgroundTaskMarker {
  public:
    explicit BackgroundTaskMarker(const std::string& taskName) : taskName_(taskName) {}

    // Logs "Progressing through background task <name>, id <id>." at info level.
    void markProgress() const;

    const std::string& getTaskName() const { return taskName_; }
    int getId() const { return id_; }

  private:
    std::string taskName_;
    int id_ = 0;
};

}  // namespace oxl::netutils
