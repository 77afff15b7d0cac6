// An HTTP(S) client that performs one transfer at a time over a single libcurl easy handle, either on the
// caller's thread or on the client's thread pool with the result sent to the request's listener.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "oxl/common/PolicyDriven.h"
#include "oxl/http/HttpClientError.h"
#include "oxl/http/HttpClientResult.h"
#include "oxl/http/Request.h"
#include "oxl/http/Response.h"

namespace oxl::http {

class BasicHttpClient : public oxl::common::PolicyDriven {
  public:
    ~BasicHttpClient() override;

    // Runs the transfer on the calling thread and fills `response`.
    virtual HttpClientResult::Result execute(std::shared_ptr<Request> request, Response& response) = 0;
    // Queues the transfer; `requestId` names it in the listener's notifications. SUCCESS means exactly one
    // notification will follow (completion, failure, or REQUEST_LOST when the task is dropped unrun), if the
    // request has a listener.
    virtual HttpClientError::Error executeAsync(std::shared_ptr<Request> request,
                                                unsigned int& requestId) = 0;
    // As executeAsync with the method forced to GET; a 200 body goes to the file, any other body to the
    // response.
    virtual HttpClientError::Error downloadAsync(std::shared_ptr<Request> request,
                                                 const std::string& filePath, unsigned int& requestId) = 0;
    // As executeAsync with the method forced to PUT and the body read from the file.
    virtual HttpClientError::Error uploadAsync(std::shared_ptr<Request> request, const std::string& filePath,
                                               unsigned int& requestId) = 0;

  protected:
    BasicHttpClient(const std::set<std::shared_ptr<oxl::common::Policy>>& policies,
                    bool followsDefaultPolicies);
};

}  // namespace oxl::http
