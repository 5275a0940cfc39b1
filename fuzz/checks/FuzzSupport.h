// What the checks share: a reader that turns the input into decisions, a
// controller that answers with the input's bytes, and the reference rules the
// program's conversions are held against.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/virtual/Virtual.h"

namespace fuzz {

// Hands out the input's bytes in order; past the end every read gives 0 or
// nothing, so a check never has to ask how much is left.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return pos_ >= size_; }
  size_t Remaining() const { return size_ - pos_; }
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t Word() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  int32_t Int32() {
    uint32_t v = Word();
    v |= static_cast<uint32_t>(Word()) << 16;
    return static_cast<int32_t>(v);
  }
  // Up to n bytes (fewer at the end of the input).
  std::string Bytes(size_t n) {
    if (n > Remaining()) n = Remaining();
    std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return s;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A controller whose every answer comes from the input: at the end of each
// command line it reads how many pieces to send (none: it stays silent), and
// for each piece the pause before it (0 to 127.5 ms, so pieces fall inside
// one 52 ms read, between two, or after the exchange gave up) and its bytes.
// It keeps everything it heard and sent, for the checks to compare.
class Peer : public vt::SerialPeer {
 public:
  explicit Peer(Input& in) : in_(in) {}
  void OnByte(uint8_t byte, uint64_t tUs, vt::Sink& out) override;

  std::vector<std::string> lines;  // command lines heard, CR left out
  std::string sent;                // every byte sent, in order
  size_t pieces = 0;

 private:
  Input& in_;
  std::string current_;
};

// Plain decimal conversion of an answer as the program's own rule states it:
// blanks, then digits up to the first other byte; held at INT32_MAX.
int64_t ReferenceValue(std::string_view text);

// True when every cell of the screen holds a printable ASCII byte.
bool ScreenPrintable();

}  // namespace fuzz
