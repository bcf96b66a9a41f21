// A reference to something callable, for a function that calls back into
// its caller while it runs: no copy, no allocation and, unlike
// std::function, no run-time type information behind it.
#pragma once
#include <type_traits>
#include <utility>

namespace bayescreen {

template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
 public:
  // Refers to f, which must outlive every call through the reference.
  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, FunctionRef>>>
  FunctionRef(F &&f)  // NOLINT(google-explicit-constructor): stands in for a callable
      : object_(const_cast<void *>(static_cast<const void *>(&f))),
        call_([](void *object, Args... args) -> R {
          return (*static_cast<std::remove_reference_t<F> *>(object))(std::forward<Args>(args)...);
        }) {}

  R operator()(Args... args) const { return call_(object_, std::forward<Args>(args)...); }

 private:
  void *object_;
  R (*call_)(void *, Args...);
};

}  // namespace bayescreen
