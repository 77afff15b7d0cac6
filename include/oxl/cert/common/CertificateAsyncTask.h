// Runs the user interaction of one asynchronous verification on the "AsyncCertValid" pool and reports the
// final result to the request's listener.
#pragma once

#include <memory>
#include <string>

#include "oxl/cert/common/CertVerifierTask.h"
#include "oxl/runtime/Task.h"
#include "oxl/runtime/ThreadPool.h"

namespace oxl::cert {

class CertificateAsyncTask : public oxl::Task {
  public:
    static constexpr const char* POOL_NAME = "AsyncCertValid";

    // The task keeps both the data and its owner alive until it has run.
    CertificateAsyncTask(std::shared_ptr<CertificateTaskData> taskData,
                         std::shared_ptr<CertVerifierTask> owner);

    void execute() override;
    // The pool's name, so that a pool thread keeps it while it runs the task.
    std::string getName() override;

    const std::shared_ptr<CertificateTaskData>& getTaskData() const { return taskData_; }

    // The process-wide pool: 0 to 10 threads, idle threads end after 60 seconds.
    static std::shared_ptr<oxl::ThreadPool> getThreadPool();

  private:
    std::shared_ptr<CertificateTaskData> taskData_;
    std::shared_ptr<CertVerifierTask> owner_;
};

}  // namespace oxl::cert
