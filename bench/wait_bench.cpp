// Duration of the link's empty bounded wait (5000 polls, nothing arriving) on the POSIX control.
#include <chrono>

#include "bench/bench.h"
#include "link/interface_link.h"
#include "link/posix_serial_control.h"
#include "tests/support/pty_board.h"

namespace varnel::bench {

std::vector<Row> emptyWait() {
    test::PtyBoard board;
    board.setSilent(true);
    PosixSerialControl control{[&](int16_t) { return board.path(); }};
    InterfaceLink link{[&]() -> SerialControl& { return control; }};
    control.Settings(InterfaceLink::kLineSettings);
    control.PortOpen(true);
    std::vector<double> ms;
    for (int i = 0; i < 50; ++i) {
        const auto start = std::chrono::steady_clock::now();
        link.EsperarRespuesta();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    const double mid = median(ms);
    return {{"empty bounded wait on a pty (5000 polls), median of 50",
             format("%.1f ms (min %.1f, max %.1f)", mid, ms.front(), ms.back()), "20 to 100 ms",
             verdict(ms.front() >= 20 && ms.back() <= 100)}};
}

}  // namespace varnel::bench
