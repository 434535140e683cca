#include "vcard/TextSink.h"

#include <algorithm>

namespace pv {

void TTextSink::Grow(size_t count) {
  const size_t used = size();
  text_.resize(used + count + std::max(kStep, used - start_));
  Point(used);
}

}  // namespace pv
