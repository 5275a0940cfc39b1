// A text of at most 255 bytes that cuts on concatenation: the program's one
// string type. Bytes are code-page-437 characters.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

class ShortStr {
 public:
  static constexpr size_t kMax = 255;

  ShortStr() = default;
  ShortStr(std::string_view s) { Assign(s); }   // NOLINT: texts convert freely
  ShortStr(const char* s) { Assign(s ? std::string_view(s) : std::string_view()); }  // NOLINT

  void Assign(std::string_view s) {
    len_ = static_cast<uint8_t>(s.size() > kMax ? kMax : s.size());
    if (len_ > 0) std::memcpy(data_, s.data(), len_);
  }
  void Clear() { len_ = 0; }
  size_t size() const { return len_; }
  size_t length() const { return len_; }
  bool empty() const { return len_ == 0; }
  const char* data() const { return data_; }
  std::string_view view() const { return std::string_view(data_, len_); }
  std::string str() const { return std::string(data_, len_); }
  operator std::string_view() const { return view(); }  // NOLINT
  char operator[](size_t i) const { return i < len_ ? data_[i] : '\0'; }
  uint8_t Byte(size_t i) const { return static_cast<uint8_t>((*this)[i]); }
  char back() const { return len_ ? data_[len_ - 1] : '\0'; }

  ShortStr& Append(std::string_view s) {
    size_t room = kMax - len_;
    size_t n = s.size() < room ? s.size() : room;
    if (n > 0) std::memcpy(data_ + len_, s.data(), n);
    len_ = static_cast<uint8_t>(len_ + n);
    return *this;
  }
  ShortStr& Append(char c) {
    if (len_ < kMax) data_[len_++] = c;
    return *this;
  }
  ShortStr& operator+=(std::string_view s) { return Append(s); }
  ShortStr& operator+=(const ShortStr& s) { return Append(s.view()); }
  ShortStr& operator+=(const char* s) { return Append(std::string_view(s)); }
  ShortStr& operator+=(char c) { return Append(c); }

  // Removes count bytes from index pos on (0-based), as far as there are.
  void Erase(size_t pos, size_t count = 1) {
    if (pos >= len_) return;
    if (count > len_ - pos) count = len_ - pos;
    std::memmove(data_ + pos, data_ + pos + count, len_ - pos - count);
    len_ = static_cast<uint8_t>(len_ - count);
  }
  void Truncate(size_t n) {
    if (n < len_) len_ = static_cast<uint8_t>(n);
  }
  void PopBack() {
    if (len_) --len_;
  }
  void SetAt(size_t i, char c) {
    if (i < len_) data_[i] = c;
  }
  ShortStr Sub(size_t pos, size_t count = kMax) const {
    if (pos >= len_) return ShortStr();
    if (count > len_ - pos) count = len_ - pos;
    return ShortStr(std::string_view(data_ + pos, count));
  }

  friend bool operator==(const ShortStr& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const ShortStr& a, const ShortStr& b) { return a.view() == b.view(); }
  friend bool operator==(const ShortStr& a, const char* b) { return a.view() == std::string_view(b); }
  friend ShortStr operator+(ShortStr a, std::string_view b) { return a.Append(b); }
  friend ShortStr operator+(ShortStr a, const ShortStr& b) { return a.Append(b.view()); }
  friend ShortStr operator+(ShortStr a, const char* b) { return a.Append(std::string_view(b)); }
  friend ShortStr operator+(ShortStr a, char c) { return a.Append(c); }

 private:
  char data_[kMax] = {};
  uint8_t len_ = 0;
};

// Decimal text of a number, as the program writes numbers into texts.
inline ShortStr NumStr(long long v, int width = 0) {
  char buf[64];
  std::string s = std::to_string(v);
  if (width > 60) width = 60;
  size_t pad = width > 0 && static_cast<size_t>(width) > s.size() ? static_cast<size_t>(width) - s.size() : 0;
  std::memset(buf, ' ', pad);
  return ShortStr(std::string_view(buf, pad)) + s;
}
