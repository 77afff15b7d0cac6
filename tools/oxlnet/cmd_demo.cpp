// The end-to-end demo: runs the library's steps in order between GlobalInit and GlobalCleanup and reports
// which of them ran. New steps are appended to demoSteps().
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "oxl/netutils/GlobalInit.h"
#include "oxl/version/Version.h"
#include "oxlnet/Command.h"

namespace oxlnet {

namespace {

struct DemoContext {
    std::ostream& out;
    std::ostream& err;
};

struct DemoStep {
    std::string name;
    // Returns false when the step failed; later steps are then skipped.
    std::function<bool(DemoContext&)> run;
};

std::vector<DemoStep> demoSteps() {
    return {
        {"version banner",
         [](DemoContext& ctx) {
             ctx.out << oxl::version::Version::printVersion(false) << "\n";
             return true;
         }},
    };
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i) {
        text += (i == 0 ? "" : (i + 1 == names.size() ? " and " : ", ")) + names[i];
    }
    return text;
}

int runDemo(const Args& args) {
    if (!args.empty()) {
        return usageError("demo takes no arguments");
    }
    DemoContext ctx{std::cout, std::cerr};
    if (oxl::netutils::GlobalInit() != 0) {
        ctx.err << "oxlnet: demo: global initialisation failed" << std::endl;
        return 1;
    }
    std::vector<std::string> ran{"global initialisation"};
    bool ok = true;
    for (const auto& step : demoSteps()) {
        if (!step.run(ctx)) {
            ctx.err << "oxlnet: demo: step '" << step.name << "' failed" << std::endl;
            ok = false;
            break;
        }
        ran.push_back(step.name);
    }
    oxl::netutils::GlobalCleanup();
    ran.emplace_back("global clean-up");
    ctx.out << "demo: ran " << joined(ran) << (ok ? "" : " (stopped early)") << std::endl;
    return ok ? 0 : 1;
}

}  // namespace

OXLNET_COMMAND("demo", "", "runs the library end to end on loopback (currently: initialisation and banner)",
               runDemo);

}  // namespace oxlnet
