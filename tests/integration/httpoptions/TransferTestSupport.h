// A configured easy handle run against the loopback servers, and a certificate verifier seam that records
// what the TLS hook hands it.
#pragma once

#include <curl/curl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "oxl/http/CertVerifier.h"
#include "oxl/http/CurlHttpUtils.h"
#include "oxl/http/EasyCURLConnection.h"
#include "oxl/http/HttpRequestData.h"

namespace oxl::http::test {

class RecordingCertVerifier : public CertVerifier {
  public:
    struct Call {
        int slot = 0;
        std::string serverHostName;
        std::vector<std::string> references;
        std::string display;
        std::string leafCommonName;  // of the certificate the handshake presented
    };

    explicit RecordingCertVerifier(bool answer) : answer_(answer) {}

    std::vector<Call> calls() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return calls_;
    }

    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& host,
                           const std::vector<std::string>& refs, const std::string& display) override {
        return record(ctx, 1, host, refs, display);
    }
    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::vector<std::string>& refs,
                           const std::string& display) override {
        return record(ctx, 2, "", refs, display);
    }
    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::string& host,
                           const std::vector<std::string>& refs) override {
        return record(ctx, 3, host, refs, "");
    }
    bool verifyCertificate(const X509_STORE_CTX* ctx, const std::vector<std::string>& refs) override {
        return record(ctx, 4, "", refs, "");
    }
    // The HTTP side never uses the other forms.
    bool verifyCertificate(const X509_STORE_CTX*, const std::string&, const std::string&) override {
        return false;
    }
    bool verifyCertificate(const X509_STORE_CTX*, const std::string&) override { return false; }
    bool verifyCertificate(const X509*, const std::string&, const std::vector<std::string>&,
                           const std::string&) override {
        return false;
    }
    bool verifyCertificate(const X509*, const std::vector<std::string>&, const std::string&) override {
        return false;
    }
    bool verifyCertificate(const X509*, const std::string&, const std::vector<std::string>&) override {
        return false;
    }
    bool verifyCertificate(const X509*, const std::vector<std::string>&) override { return false; }
    bool verifyCertificate(const X509*, const std::string&, const std::string&) override { return false; }
    bool verifyCertificate(const X509*, const std::string&) override { return false; }

  private:
    bool record(const X509_STORE_CTX* ctx, int slot, const std::string& host,
                const std::vector<std::string>& refs, const std::string& display) {
        Call call{slot, host, refs, display, {}};
        X509* leaf = X509_STORE_CTX_get0_cert(ctx);
        if (leaf != nullptr) {
            char cn[256] = {};
            if (X509_NAME_get_text_by_NID(X509_get_subject_name(leaf), NID_commonName, cn, sizeof(cn)) > 0) {
                call.leafCommonName = cn;
            }
        }
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(call));
        return answer_;
    }

    const bool answer_;
    mutable std::mutex mutex_;
    std::vector<Call> calls_;
};

// One request on its own easy handle, configured by the library and performed by libcurl.
struct Transfer {
    explicit Transfer(std::shared_ptr<Request> request, std::shared_ptr<CertVerifier> verifier = nullptr,
                      std::shared_ptr<EasyCURLConnection> shared = nullptr)
        : connection(shared ? std::move(shared) : std::make_shared<EasyCURLConnection>()),
          data(std::make_unique<HttpRequestData>(std::move(request), std::move(verifier))) {
        data->consumeEasyCURLConnection(connection, nullptr);
    }

    // Configures and performs; CURLE_FAILED_INIT when the configuration failed.
    CURLcode run(const TransferCallbacks& callbacks = {}) {
        if (!CurlHttpUtils::configureEasyRequest(*data, callbacks)) {
            return CURLE_FAILED_INIT;
        }
        const CURLcode code = curl_easy_perform(connection->getHandle());
        CurlHttpUtils::getResponseCode(data.get());
        return code;
    }

    Response& response() { return data->getResponse(); }
    std::string body() { return data->getResponse().getBodyAsString(); }

    std::shared_ptr<EasyCURLConnection> connection;
    std::unique_ptr<HttpRequestData> data;
};

}  // namespace oxl::http::test
