// Feeds arbitrary bytes to a message as its received encoded data and looks values up in an
// order the input chooses; a repeated lookup gives the same value, and a value written afterwards
// reads back as written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "files/Errors.h"
#include "fuzz/FuzzUtil.h"
#include "hostlink/MessageData.h"

namespace {
const char16_t* const kNames[] = {u"DATA", u"INDEX", u"COMMAND", u"SYNC", u"", u"D", u"\u00E4"};
constexpr size_t kNameCount = sizeof(kNames) / sizeof(kNames[0]);
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte chooses how many lookups follow, the next ones which names they ask for.
  if (size < 1) return 0;
  const size_t lookups = std::min<size_t>(data[0] % 8, size - 1);
  const uint8_t* choices = data + 1;
  const uint8_t* encoded = choices + lookups;
  const size_t encodedSize = size - 1 - lookups;

  pv::MessageRef message = pv::TMessageData::Create();
  pv::TStreamStorage& values = message->GetData();
  values.Stream().Write(encoded, encodedSize);
  values.Stream().Seek(0);

  for (size_t i = 0; i < lookups; ++i) {
    const std::u16string first = values.ReadWideString(kNames[choices[i] % kNameCount]);
    // A repeated lookup goes through the index and must give the same value.
    if (values.ReadWideString(kNames[choices[i] % kNameCount]) != first) __builtin_trap();
  }
  try {
    values.WriteWideString(u"DATA", u"appended");
  } catch (const pv::Exception&) {
    // The name was indexed already.
  }
  // A value written after whatever the input held reads back as written.
  try {
    values.WriteWideString(u"FRESH", u"appended");
    FUZZ_CHECK(values.ReadWideString(u"FRESH") == u"appended");
  } catch (const pv::Exception&) {
    // The input held that name already.
  }
  return 0;
}
