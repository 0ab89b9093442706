// Duration of the link's empty bounded wait (5000 polls, nothing arriving) on the POSIX control.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "link/interface_link.h"
#include "link/posix_serial_control.h"
#include "tests/support/pty_board.h"

int main() {
    varnel::test::PtyBoard board;
    board.setSilent(true);
    varnel::PosixSerialControl control{[&](int16_t) { return board.path(); }};
    varnel::InterfaceLink link{[&]() -> varnel::SerialControl& { return control; }};
    control.Settings("9600,N,8,1");
    control.PortOpen(true);
    std::vector<double> ms;
    for (int i = 0; i < 50; ++i) {
        const auto start = std::chrono::steady_clock::now();
        link.EsperarRespuesta();
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("| measure | min | median | max |\n|---|---|---|---|\n");
    std::printf("| empty bounded wait, 5000 polls (ms) | %.1f | %.1f | %.1f |\n", ms.front(),
                ms[ms.size() / 2], ms.back());
}
