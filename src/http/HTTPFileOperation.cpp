#include "oxl/http/HTTPFileOperation.h"

#include "oxl/runtime/EnumPrint.h"

namespace oxl::http {

std::ostream& operator<<(std::ostream& os, HTTPFileOperation::Method method) {
    return oxl::detail::printEnum(os, method,
                                  {{HTTPFileOperation::DOWNLOAD, "DOWNLOAD"},
                                   {HTTPFileOperation::UPLOAD, "UPLOAD"},
                                   {HTTPFileOperation::NONE, "NONE"}});
}

}  // namespace oxl::http
