// ComReadLine on bytes that arrive at any time: in every mode it returns
// what it took off the port and no more, never more than a text holds,
// never waits for a first byte, and ends a line after a short silence.
#include <deque>
#include <string>

#include "comLib3/comLib3.h"
#include "fuzz/checks/FuzzChecks.h"
#include "fuzz/checks/FuzzSupport.h"
#include "platform/virtual/Virtual.h"

namespace {

constexpr int kPort = 1;

// The port goes away at a chosen moment, as a USB adapter pulled out does.
class VanishingPeer : public vt::SerialPeer {
 public:
  uint64_t vanishAtUs = UINT64_MAX;
  void OnByte(uint8_t, uint64_t, vt::Sink&) override {}
  void AdvanceTo(uint64_t tUs, vt::Sink&) override {
    if (tUs >= vanishAtUs) vt::Port(kPort).vanished = true;
  }
};

}  // namespace

void CheckReadLine(const uint8_t* data, size_t size) {
  vt::Reset();
  ComLib3Init();
  fuzz::Input in(data, size);
  VanishingPeer peer;
  vt::AttachPort(kPort, &peer);
  if (ComOpen(kPort, 9600, 'E', 8, 1) != 0) {
    FUZZ_CHECK(false, "the virtual port did not open");
    return;
  }

  const uint8_t modeByte = in.Byte();
  const int mode = modeByte % 3 == 0 ? 0 : modeByte % 3 == 1 ? 1 : 2 + modeByte / 3;
  const char a = static_cast<char>(in.Byte());
  const char b = static_cast<char>(in.Byte());
  const uint8_t capByte = in.Byte();
  const int capacity = capByte == 255 ? -1 : capByte;
  const uint8_t flags = in.Byte();
  if (flags & 1) vt::PushKeysAt(static_cast<uint64_t>(in.Word()) * 1000, "\x1b");
  if (flags & 2) peer.vanishAtUs = static_cast<uint64_t>(in.Word()) * 1000;

  // The bytes of the line, in pieces 0 to 255 ms apart.
  uint64_t at = 0;
  const size_t pieces = in.Byte() & 15;
  for (size_t i = 0; i < pieces && !in.Empty(); ++i) {
    at += static_cast<uint64_t>(in.Byte()) * 1000;
    for (char c : in.Bytes(in.Byte() & 0x7F)) vt::Port(kPort).rx.emplace_back(at, static_cast<uint8_t>(c));
  }

  try {
    for (int call = 0; call < 64; ++call) {
      const bool vanished = vt::Port(kPort).vanished;
      const bool escBefore = EscAbort;
      const std::deque<std::pair<uint64_t, uint8_t>> queue = vt::Port(kPort).rx;
      const uint64_t start = vt::NowUs();
      ShortStr dest("untouched");
      const int r = ComReadLine(kPort, dest, capacity, mode, a, b);
      const size_t taken = queue.size() - vt::Port(kPort).rx.size();
      std::string text;
      for (size_t i = 0; i < taken; ++i) text.push_back(static_cast<char>(queue[i].second));
      const size_t keep = capacity < 0 ? 0 : static_cast<size_t>(capacity);

      FUZZ_CHECK(r >= -1, "ComReadLine result below -1");
      FUZZ_CHECK(dest.size() <= ShortStr::kMax, "line longer than a text");
      if (r <= 0) {
        // A port that went away while the line was being read gives up
        // with nothing collected; otherwise a read that brings nothing
        // leaves the line alone.
        if (!vt::Port(kPort).vanished) FUZZ_CHECK(dest == "untouched", "a read that brought nothing changed the line");
        FUZZ_CHECK(r == 0 || vanished || vt::Port(kPort).vanished, "-1 from a port that is open");
        FUZZ_CHECK(!escBefore || r == 0 || vanished, "a read under EscAbort did not return 0");
      }
      if (r > 0) {
        FUZZ_CHECK(!escBefore, "ComReadLine read on after Esc");
        FUZZ_CHECK(dest.size() <= keep, "line longer than its capacity");
        if (mode == 0) {
          const int want = static_cast<uint8_t>(a) == 0 ? 255 : static_cast<uint8_t>(a);
          FUZZ_CHECK(r <= want && static_cast<size_t>(r) == taken, "block read took another count");
          FUZZ_CHECK(dest == text.substr(0, keep), "block read gave other bytes");
          FUZZ_CHECK(vt::NowUs() - start <= 53'000, "a block read outlasted its time-out");
        } else {
          FUZZ_CHECK(static_cast<size_t>(r) == taken, "the count is not the bytes taken");
          FUZZ_CHECK(r <= 255, "a line ran past 255 bytes");
          // The idle counter starts again at every byte: at most 101 idle
          // polls (mode 1) or 11 (others) of 1 ms after each.
          const uint64_t idleUs = mode == 1 ? 102'000 : 12'000;
          FUZZ_CHECK(vt::NowUs() - start <= (static_cast<uint64_t>(r) + 1) * idleUs, "a line read waited too long");
          if (mode == 1) {
            const size_t end = text.find_first_of(std::string{a, b});
            const bool complete = end == text.size() - 1;
            FUZZ_CHECK(end == std::string::npos || complete, "the line read went past its end character");
            const std::string expect = complete ? text : std::string("auxStrIn Error");
            FUZZ_CHECK(dest == expect.substr(0, keep), "line read gave another text");
          } else {
            FUZZ_CHECK(dest == text.substr(0, keep), "read until quiet gave another text");
          }
        }
      }
      if (r == 0 && !escBefore && !vt::Port(kPort).vanished && !EscAbort)
        FUZZ_CHECK(vt::NowUs() - start <= 1000, "ComReadLine waited for a first byte");
      // The caller's own pace between calls; once the input is used up, 10 ms
      // steps let the bytes still on their way arrive.
      vt::AdvanceUs(in.Empty() ? 10'000 : static_cast<uint64_t>(in.Byte()) * 1000);
      if (in.Empty() && vt::Port(kPort).rx.empty()) break;
    }
  } catch (const vt::Spin&) {
    FUZZ_CHECK(false, "ComReadLine spins without letting time pass");
  } catch (const vt::ScriptEnd&) {
    FUZZ_CHECK(false, "ComReadLine blocked on a key");
  }
}
