// Mailbox calls in the cleanup's resume-next style: a call on an object that is not there fails
// like any other call (it raises "object not set" and gives the empty result), and a call into
// another procedure leaves no error of its own pending here.
#pragma once

#include <memory>
#include <type_traits>
#include <utility>

#include "base/mapi_error.h"

namespace oa::handhelds {

void RaiseObjectNotSet();

template <class T, class F>
auto On(const std::shared_ptr<T>& object, F&& call) {
  using Result = decltype(call(*object));
  if (!object) {
    RaiseObjectNotSet();
    if constexpr (!std::is_void_v<Result>)
      return Result{};
    else
      return;
  }
  return call(*object);
}

// For procedures that catch their own errors.
template <class F>
auto Quietly(F&& call) {
  oa::ErrScope scope;
  return call();
}

}  // namespace oa::handhelds
