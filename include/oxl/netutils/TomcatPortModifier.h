// Moves URLs on the default secure web port to the port the directory service announces in DNS, for
// deployments that run the web service elsewhere.
#pragma once

#include <memory>
#include <string>

namespace oxl::edge {
class EdgeDetectionController;
}

namespace oxl::netutils {

class TomcatPortModifier {
  public:
    static const unsigned int DEFAULT_TOMCAT_PORT;
    // Service labels announcing the directory service start with this.
    static constexpr const char* DIRECTORY_SERVICE_PREFIX = "_pelko-zds";

    // Reads the records of the global edge state's detection controller.
    TomcatPortModifier();
    explicit TomcatPortModifier(std::shared_ptr<oxl::edge::EdgeDetectionController> edgeDetectionController);

    // The URL with port 8443 replaced by the announced port; any other URL unchanged.
    std::string changeDefaultTomcatPort(const std::string& url) const;
    // The first announced directory-service port other than 8443 and 0; 8443 when there is none.
    unsigned int getTomcatPort() const;

  private:
    std::shared_ptr<oxl::edge::EdgeDetectionController> edgeDetectionController_;
};

}  // namespace oxl::netutils
