// An HTTP(S) client that runs many transfers at once over one libcurl multi handle, each with its own easy
// handle, on a dedicated processing thread. Every result goes to the request's listener.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "oxl/common/PolicyDriven.h"
#include "oxl/http/HttpClientError.h"
#include "oxl/http/Request.h"

namespace oxl::http {

class MultiHttpClient : public oxl::common::PolicyDriven {
  public:
    ~MultiHttpClient() override;

    // Lets transfers to the same server share one connection where the server offers HTTP/2; libcurl no
    // longer pipelines HTTP/1.1. Applied by the processing thread before it adds further transfers.
    virtual void enableHttpPipelining() = 0;
    virtual void disableHttpPipelining() = 0;

    // Queues the transfer; `requestId` names it in the listener's notifications. SUCCESS means exactly one
    // notification will follow if the request has a listener: completion, failure, REQUEST_CANCELLED after
    // cancelAllRequests, or REQUEST_LOST when the client is destroyed first.
    virtual HttpClientError::Error enqueueRequest(std::shared_ptr<Request> request,
                                                  unsigned int& requestId) = 0;
    // As enqueueRequest with the method forced to GET; a 200 body goes to the file, any other body to the
    // response.
    virtual HttpClientError::Error enqueueDownloadRequest(std::shared_ptr<Request> request,
                                                          const std::string& filePath,
                                                          unsigned int& requestId) = 0;
    // Cancels every request the client holds (queued or running). Each listener is told REQUEST_CANCELLED
    // once; when the call returns no transfer of these requests is left in the multi handle.
    virtual void cancelAllRequests() = 0;

  protected:
    MultiHttpClient(const std::set<std::shared_ptr<oxl::common::Policy>>& policies,
                    bool followsDefaultPolicies);
};

}  // namespace oxl::http
