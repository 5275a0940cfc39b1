// Times KvExchange on the real serial path: the port opened through
// VEKTON_COM1 on a pseudo-terminal, a peer thread on the master side. With a
// peer that answers each line at once an exchange costs one read time-out
// (the read asks for 50 bytes and the answer is shorter) plus the 1 ms wait;
// with a silent peer two time-outs plus two 1 ms waits.
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "KV_Lib3/KV_Lib3.h"
#include "comLib3/comLib3.h"

namespace {

// The far end of the cable: reads what the console sends and, when
// answering, replies "OK" CR LF to every line ended by CR.
class Peer {
 public:
  Peer(int master, bool answer) : master_(master), answer_(answer), thread_([this] { Run(); }) {}
  ~Peer() {
    stop_ = true;
    thread_.join();
  }
  unsigned Lines() const { return lines_; }

 private:
  void Run() {
    char buf[256];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10) <= 0) continue;
      ssize_t n = read(master_, buf, sizeof buf);
      if (n <= 0) continue;
      for (ssize_t i = 0; i < n; ++i) {
        if (buf[i] != '\r') continue;
        ++lines_;
        if (answer_) (void)!write(master_, "OK\r\n", 4);
      }
    }
  }
  int master_;
  bool answer_;
  std::atomic<bool> stop_{false};
  std::atomic<unsigned> lines_{0};
  std::thread thread_;
};

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  size_t i = static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
  return v[std::min(i, v.size() - 1)];
}

std::vector<double> TimeExchanges(int port, int count, const char* command, std::string& lastAnswer) {
  std::vector<double> ms;
  ShortStr answer;
  for (int i = 0; i < count; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    KvExchange(port, command, answer);
    auto t1 = std::chrono::steady_clock::now();
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  lastAnswer = std::string(answer.view());
  return ms;
}

}  // namespace

int main() {
  int master = -1, slave = -1;
  char name[256] = {};
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return 1;
  }
  setenv("VEKTON_COM1", name, 1);
  constexpr int kPort = 1;
  std::printf("KvExchange over a pseudo-terminal (%s), read time-out %u ms\n", name,
              ComReadTimeoutMs(9600));

  {
    Peer peer(master, true);
    if (int rc = KvOpenPort(kPort); rc != 0) {
      std::fprintf(stderr, "KvOpenPort failed: %d\n", rc);
      return 1;
    }
    std::string answer;
    auto ms = TimeExchanges(kPort, 200, "RD DM200", answer);
    std::printf("answering peer, %zu exchanges (answer \"%s\", %u lines seen):\n", ms.size(),
                answer.c_str(), peer.Lines());
    std::printf("  median %.1f ms   p90 %.1f ms   max %.1f ms   (expected about %u ms)\n",
                Percentile(ms, 0.5), Percentile(ms, 0.9), *std::max_element(ms.begin(), ms.end()),
                ComReadTimeoutMs(9600) + 1);
  }
  {
    Peer peer(master, false);
    std::string answer;
    auto ms = TimeExchanges(kPort, 20, "RD DM200", answer);
    std::printf("silent peer, %zu exchanges (answer \"%s\"):\n", ms.size(), answer.c_str());
    std::printf("  median %.1f ms   max %.1f ms   (expected about %u ms)\n", Percentile(ms, 0.5),
                *std::max_element(ms.begin(), ms.end()), 2 * ComReadTimeoutMs(9600) + 2);
  }
  ComClose(kPort);
  close(slave);
  close(master);
  return 0;
}
