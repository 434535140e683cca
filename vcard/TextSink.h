#pragma once

#include <cstring>
#include <string>
#include <string_view>

namespace pv {

// Appends to the end of a string through a pointer. Room is made ahead in steps, so that each
// piece costs one comparison and a copy instead of a call into the string: a card is written in
// some sixty small pieces. The string holds exactly what was appended once the sink is gone.
class TTextSink {
 public:
  explicit TTextSink(std::string& text) : text_(text), start_(text.size()) {
    text_.resize(start_ + kStep);
    Point(start_);
  }
  ~TTextSink() { text_.resize(size()); }
  TTextSink(const TTextSink&) = delete;
  TTextSink& operator=(const TTextSink&) = delete;

  void operator+=(char c) {
    Room(1);
    *at_++ = c;
  }
  void operator+=(std::string_view s) {
    if (s.empty()) return;
    Room(s.size());
    std::memcpy(at_, s.data(), s.size());
    at_ += s.size();
  }
  void Append(size_t count, char c) {
    Room(count);
    std::memset(at_, c, count);
    at_ += count;
  }
  // The length of the whole string, as it will be.
  size_t size() const { return static_cast<size_t>(at_ - text_.data()); }
  // What was appended from offset from on.
  std::string_view Since(size_t from) const {
    return std::string_view(text_.data() + from, size() - from);
  }
  // Takes back what was appended from offset to on.
  void CutTo(size_t to) { at_ = text_.data() + to; }

 private:
  static constexpr size_t kStep = 512;  // more than most cards need

  void Room(size_t count) {
    if (count > static_cast<size_t>(end_ - at_)) Grow(count);
  }
  // Doubles the room of what this sink wrote, not of the whole string. Out of line: rarely
  // needed, and the pointers it moves are then plainly new to the compiler.
  void Grow(size_t count);
  void Point(size_t used) {
    at_ = text_.data() + used;
    end_ = text_.data() + text_.size();
  }

  std::string& text_;
  const size_t start_;
  char* at_;
  char* end_;
};

}  // namespace pv
