// The error the store's inner layers throw; caught at every object-model call and turned into
// the pending error, so that no exception leaves the store.
#pragma once

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>

#include "base/mapi_error.h"
#include "mailbox/model/const_mapi.h"

namespace oa::store {

class StoreError : public std::runtime_error {
 public:
  StoreError(int32_t hr, const std::string& text) : std::runtime_error(text), hr_(hr) {}
  int32_t hr() const { return hr_; }

 private:
  int32_t hr_;
};

[[noreturn]] inline void Fail(int32_t hr, const std::string& text) {
  throw StoreError(hr, text);
}

// The store's own description of an error number.
std::string ErrorText(int32_t hr);

// Runs body; a StoreError (or any other exception) becomes the pending error and `empty` the
// result.
template <class R, class F>
R Guarded(R empty, F&& body) noexcept {
  try {
    return body();
  } catch (const StoreError& e) {
    oa::Err().Raise(e.hr(), e.what());
  } catch (const std::bad_alloc&) {
    oa::Err().Raise(mailbox::ConstMAPI::MAPI_E_NOT_ENOUGH_MEMORY,
                    ErrorText(mailbox::ConstMAPI::MAPI_E_NOT_ENOUGH_MEMORY));
  } catch (const std::exception& e) {
    oa::Err().Raise(mailbox::ConstMAPI::MAPI_E_CALL_FAILED, e.what());
  }
  return empty;
}

template <class F>
void GuardedVoid(F&& body) noexcept {
  Guarded(0, [&] {
    body();
    return 0;
  });
}

}  // namespace oa::store
