// Times KvExchange on a real COM port of the Windows build (under Wine, COM1
// linked to vekton-sim's pseudo-terminal). The read asks for more bytes than
// an answer has, so with a store that answers at once an exchange costs one
// read time-out (52 ms at 9600 baud) plus the 1 ms wait after the write; with
// a silent store two time-outs and two 1 ms waits.
//
// Usage: exchange_bench_win [port [count [command]]]   (default 1 200 "RD DM200")
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "comLib3/comLib3.h"
#include "platform/Platform.h"

namespace {

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  const int port = argc > 1 ? std::atoi(argv[1]) : 1;
  const int count = argc > 2 ? std::max(1, std::atoi(argv[2])) : 200;
  const std::string command = argc > 3 ? argv[3] : "RD DM200";
  // No PlatformInit: the console stays as it is, and the bench prints plainly.
  ComLib3Init();
  if (int rc = KvOpenPort(port); rc != 0) {
    std::fprintf(stderr, "\nKvOpenPort(%d) failed: %d\n", port, rc);
    return 1;
  }
  const unsigned timeout = ComReadTimeoutMs(9600);
  std::vector<double> ms;
  ShortStr answer;
  unsigned answered = 0;
  for (int i = 0; i < count; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    KvExchange(port, ShortStr(command.c_str()), answer);
    const auto t1 = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    if (!answer.empty()) ++answered;
  }
  ComClose(port);
  const bool silent = answered == 0;
  std::printf("KvExchange \"%s\" on COM%d, read time-out %u ms, %d exchanges, %u answered (last \"%s\")\n",
              command.c_str(), port, timeout, count, answered, std::string(answer.view()).c_str());
  std::printf("  median %.1f ms   p10 %.1f ms   p90 %.1f ms   max %.1f ms   (expected about %u ms)\n",
              Percentile(ms, 0.5), Percentile(ms, 0.1), Percentile(ms, 0.9),
              *std::max_element(ms.begin(), ms.end()), silent ? 2 * timeout + 2 : timeout + 1);
  std::printf("median_ms=%.2f expected_ms=%u\n", Percentile(ms, 0.5), silent ? 2 * timeout + 2 : timeout + 1);
  return 0;
}
