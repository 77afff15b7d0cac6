// oxlnet detect: internal and edge visibility of a pair of domains, optionally watched for changes.
#include <chrono>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "oxl/dns/DnsUtils.h"
#include "oxl/dns/DnsUtilsScopedSetCustomServerAddress.h"
#include "oxl/edge/EdgeDetectionControllerImpl.h"
#include "oxl/edge/EdgeTransitionDetectionControllerImpl.h"
#include "oxl/ip/IpUtils.h"
#include "oxlnet/Command.h"

namespace {

constexpr long MAX_WATCH_SECONDS = 86400;

std::mutex& outputMutex() {
    static std::mutex m;
    return m;
}

const char* visibleText(bool visible) {
    return visible ? "visible" : "not visible";
}

class PrintingVisibilityObserver : public oxl::edge::VisibilityChangeObserver {
  public:
    explicit PrintingVisibilityObserver(std::weak_ptr<oxl::edge::EdgeDetectionController> controller)
        : controller_(std::move(controller)) {}
    void onVisibilityChange() override {
        auto controller = controller_.lock();
        if (!controller) {
            return;
        }
        const bool internal = controller->isOnPremServerAvailable();
        const bool edge = controller->isEdgeAvailable();
        std::lock_guard<std::mutex> lock(outputMutex());
        std::cout << "change: internal " << visibleText(internal) << ", edge " << visibleText(edge)
                  << std::endl;
    }

  private:
    std::weak_ptr<oxl::edge::EdgeDetectionController> controller_;
};

class PrintingSensingObserver : public oxl::edge::NetworkSensingObserver {
  public:
    void onNetworkSensingEvent(const oxl::edge::NetworkSensingEvent& event) override {
        std::lock_guard<std::mutex> lock(outputMutex());
        std::cout << "sensing: " << event << std::endl;
    }
};

// "Not visible" means the name server answered that the records are not there. Without any answer from
// it, nothing is known about either network.
bool nameServerAnswers(const std::string& domain, oxl::dns::DnsQueryResult::Result& result) {
    std::vector<oxl::dns::ARecord> records;
    result = oxl::dns::DnsUtils::executeARecordQuery(domain, records);
    switch (result) {
        case oxl::dns::DnsQueryResult::TIMEOUT:
        case oxl::dns::DnsQueryResult::NO_NETWORK:
        case oxl::dns::DnsQueryResult::SERVER_REFUSED:
        case oxl::dns::DnsQueryResult::SERVER_FAILURE:
        case oxl::dns::DnsQueryResult::INTERNAL_ERROR:
            return false;
        default:
            return true;
    }
}

int runDetect(const oxlnet::Args& input) {
    oxlnet::Args args = input;
    std::string internalDomain;
    std::string externalDomain;
    std::string dnsServer;
    std::string watchText;
    if (!oxlnet::takeOption(args, "--internal-domain", internalDomain) || internalDomain.empty()) {
        return oxlnet::usageError("detect: --internal-domain DOMAIN is required");
    }
    if (!oxlnet::takeOption(args, "--external-domain", externalDomain) || externalDomain.empty()) {
        return oxlnet::usageError("detect: --external-domain DOMAIN is required");
    }
    const bool customServer = oxlnet::takeOption(args, "--dns-server", dnsServer);
    const bool watch = oxlnet::takeOption(args, "--watch", watchText);
    if (!args.empty()) {
        return oxlnet::usageError("detect: unexpected argument '" + args.front() + "'");
    }
    long watchSeconds = 0;
    if (watch) {
        try {
            size_t used = 0;
            watchSeconds = std::stol(watchText, &used);
            if (used != watchText.size() || watchSeconds <= 0 || watchSeconds > MAX_WATCH_SECONDS) {
                throw std::out_of_range(watchText);
            }
        } catch (const std::exception&) {
            return oxlnet::usageError("detect: --watch takes a number of seconds from 1 to " +
                                      std::to_string(MAX_WATCH_SECONDS));
        }
    }
    std::unique_ptr<oxl::dns::DnsUtilsScopedSetCustomServerAddress> server;
    if (customServer) {
        server = std::make_unique<oxl::dns::DnsUtilsScopedSetCustomServerAddress>(dnsServer);
        if (!server->isValid()) {
            return oxlnet::usageError("detect: invalid --dns-server '" + dnsServer + "'");
        }
    }

    auto controller = oxl::edge::EdgeDetectionControllerImpl::build(internalDomain, externalDomain);
    std::shared_ptr<oxl::edge::EdgeTransitionDetectionControllerImpl> transitions;
    std::shared_ptr<PrintingVisibilityObserver> visibility;
    std::shared_ptr<PrintingSensingObserver> sensing;
    // Notices that arrive while the answer is being printed wait for it, so they always come after it.
    std::unique_lock<std::mutex> printing(outputMutex());
    if (watch) {
        // Observed and linked before the first question, so that its answer starts the right detection and
        // every notice from then on is printed.
        visibility = std::make_shared<PrintingVisibilityObserver>(controller);
        sensing = std::make_shared<PrintingSensingObserver>();
        controller->registerVisibilityChangeObserver(visibility);
        controller->registerNetworkSensingObserver(sensing);
        transitions = oxl::edge::EdgeTransitionDetectionControllerImpl::build();
        controller->setEdgeTransitionDetectionController(transitions);
        transitions->start();
    }

    const bool internal = controller->isOnPremServerAvailable();
    const bool edge = controller->isEdgeAvailable();
    oxl::dns::DnsQueryResult::Result dnsResult = oxl::dns::DnsQueryResult::SUCCESS;
    if (!internal && !edge && !nameServerAnswers(externalDomain, dnsResult)) {
        std::cout << "internal: unknown\nedge: unknown" << std::endl;
        std::cerr << "oxlnet: detect: the DNS server does not answer (" << dnsResult
                  << "), so visibility is unknown" << std::endl;
        printing.unlock();
        if (watch) {
            controller->unregisterVisibilityChangeObserver(visibility);
            controller->unregisterNetworkSensingObserver(sensing);
            transitions->stop();
        }
        controller->stop();
        return 1;
    }
    std::cout << "internal: " << visibleText(internal) << "\n";
    std::cout << "edge: " << visibleText(edge) << "\n";
    for (const auto& record : controller->getInternalServiceRecords(false)) {
        for (const auto& endpoint : record.endpoints) {
            std::cout << "internal " << record.serviceName << " " << endpoint << "\n";
        }
    }
    for (const auto& record : controller->getEdgeServiceRecordData()) {
        std::cout << "edge " << oxl::ip::IpUtils::appendPortToAddress(record.host, record.port) << "\n";
    }
    std::cout.flush();
    printing.unlock();

    if (watch) {
        std::this_thread::sleep_for(std::chrono::seconds(watchSeconds));
        controller->unregisterVisibilityChangeObserver(visibility);
        controller->unregisterNetworkSensingObserver(sensing);
        transitions->stop();
        controller->stop();
    }
    return 0;
}

}  // namespace

OXLNET_COMMAND("detect", "--internal-domain D --external-domain E [--dns-server ADDR:PORT] [--watch SECONDS]",
               "internal and edge visibility from DNS SRV records; --watch follows changes", runDetect);
