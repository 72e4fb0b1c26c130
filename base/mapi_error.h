// The pending error of mailbox calls. A failed call never throws: it returns its empty result
// and raises its error here, where the caller may read the number and description afterwards.
// Like the error object of the scripting hosts the agent tools were written for, an error stays
// pending until it is cleared or replaced by the next failing call.
#pragma once

#include <cstdint>
#include <string>

namespace oa {

class ErrObject {
 public:
  int32_t Number() const { return number_; }
  const std::string& Description() const { return description_; }
  bool Pending() const { return number_ != 0; }

  void Raise(int32_t number, std::string description) {
    number_ = number;
    description_ = std::move(description);
  }
  void Clear() {
    number_ = 0;
    description_.clear();
  }

 private:
  int32_t number_ = 0;
  std::string description_;
};

// The pending error of this thread.
ErrObject& Err();

// Keeps a procedure's own caught errors from leaking into its caller: restores the error that
// was pending when the scope was entered.
class ErrScope {
 public:
  ErrScope() : saved_(Err()) {}
  ~ErrScope() { Err() = saved_; }
  ErrScope(const ErrScope&) = delete;
  ErrScope& operator=(const ErrScope&) = delete;

 private:
  ErrObject saved_;
};

// "&H" followed by upper-case hex digits without leading zeros; negative numbers as the eight
// digits of their two's complement.
std::string HexErrorNumber(int32_t number);

}  // namespace oa
