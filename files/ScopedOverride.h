// The one kind of test seam: an object that puts a process-wide hook or value in place for its
// lifetime and puts the previous one back when it goes out of scope, also when a test fails or
// throws half-way.
#pragma once

#include <utility>

namespace pv {

// TScopedOverride<T> works through the seam's setter: a function that stores a new value and
// returns the one it replaced. The setter decides the thread safety: a hook that worker threads
// read keeps its own mutex inside the setter and the reader, so the override needs none.
//
//   TScopedOverride shell(SetShellOpenHook, [](const std::string&) { return true; });
//
// Overrides nest: the inner one restores the outer one's value, the outer one the original.
template <typename T>
class TScopedOverride {
 public:
  using TSetter = T (*)(T);

  TScopedOverride(TSetter setter, T value) : FSetter(setter), FPrevious(setter(std::move(value))) {}
  ~TScopedOverride() { FSetter(std::move(FPrevious)); }

  TScopedOverride(const TScopedOverride&) = delete;
  TScopedOverride& operator=(const TScopedOverride&) = delete;
  TScopedOverride(TScopedOverride&&) = delete;
  TScopedOverride& operator=(TScopedOverride&&) = delete;

  // The value in place before this override.
  const T& Previous() const { return FPrevious; }

 private:
  TSetter FSetter;
  T FPrevious;
};

// A lambda or other callable given as value becomes the setter's own type.
template <typename T, typename V>
TScopedOverride(T (*)(T), V&&) -> TScopedOverride<T>;

}  // namespace pv
