#include "sandbox/InternalWebServer.h"

#include <httplib.h>

#include <cstdlib>

#include "sandbox/SandboxPki.h"
#include "sandbox/SandboxServer.h"

namespace oxl::sandbox {

InternalWebServer::InternalWebServer() : InternalWebServer(Options{}) {}

InternalWebServer::InternalWebServer(Options options) : options_(std::move(options)) {
    SandboxServer::Tls tls;
    tls.enabled = options_.https;
    if (options_.https && options_.certFile.empty()) {
        pki_ = std::make_unique<SandboxPki>();
        tls.pki = pki_.get();
    } else {
        tls.certFile = options_.certFile;
        tls.keyFile = options_.keyFile;
    }
    server_ = std::make_unique<SandboxServer>(options_.host, tls);
    httplib::Server& s = server_->server();
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++counts_[req.path];
        return httplib::Server::HandlerResponse::Unhandled;
    });
    s.Get("/set-cookie", [](const httplib::Request& req, httplib::Response& res) {
        std::string cookie = req.get_param_value("name") + "=" + req.get_param_value("value");
        cookie += "; Path=" + (req.has_param("path") ? req.get_param_value("path") : std::string("/"));
        if (req.has_param("max-age")) {
            cookie += "; Max-Age=" + req.get_param_value("max-age");
        }
        res.set_header("Set-Cookie", cookie);
        res.set_content("ok", "text/plain");
    });
    s.Get("/cookies", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.get_header_value("Cookie"), "text/plain");
    });
    s.Get("/redirect", [](const httplib::Request& req, httplib::Response& res) {
        const int status = req.has_param("status") ? std::atoi(req.get_param_value("status").c_str()) : 302;
        res.set_redirect(req.get_param_value("to"), status >= 300 && status < 400 ? status : 302);
    });
    s.Post("/echo", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content(req.body, req.get_header_value("Content-Type").empty()
                                      ? "application/octet-stream"
                                      : req.get_header_value("Content-Type"));
    });
    s.Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto it = files_.find(req.path);
        if (it == files_.end()) {
            res.status = 404;
            res.set_content("not found", "text/plain");
            return;
        }
        res.set_content(it->second.first, it->second.second);
    });
}

InternalWebServer::~InternalWebServer() {
    stop();
}

void InternalWebServer::addFile(const std::string& path, const std::string& content,
                                const std::string& contentType) {
    const std::lock_guard<std::mutex> lock(mutex_);
    files_[path] = {content, contentType};
}

bool InternalWebServer::start() {
    return server_->start();
}

void InternalWebServer::stop() {
    server_->stop();
}

uint16_t InternalWebServer::port() const {
    return server_->port();
}

std::string InternalWebServer::url(const std::string& path) const {
    return server_->url(path);
}

std::string InternalWebServer::trustFile() const {
    return pki_ ? pki_->trustFile() : std::string();
}

std::size_t InternalWebServer::requestCount(const std::string& path) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it = counts_.find(path);
    return it == counts_.end() ? 0 : it->second;
}

}  // namespace oxl::sandbox
