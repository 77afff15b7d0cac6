// Progress of one transfer as reported to the listener: total and done, in bytes.
#pragma once

namespace oxl::http {

struct ProgressData {
    ProgressData() = default;
    ProgressData(double total, double done) : transferTotal(total), transferDone(done) {}

    double transferTotal = 0;
    double transferDone = 0;
};

}  // namespace oxl::http
