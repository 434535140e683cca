// Counts heap allocations: a fresh contact allocates nothing, and writing a card into an output
// with room to spare allocates nothing either.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>

#include "vcard/VCard.h"

namespace {
std::atomic<long> gAllocations{0};
}

void* operator new(std::size_t size) {
  ++gAllocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace pv {
namespace {

TEST(AllocationTest, ContactIsFreeAndCardsReuseTheirBuffers) {
  long start = gAllocations;
  auto counted = std::make_unique<TvEmail>();
  EXPECT_EQ(1, gAllocations - start);  // the counter works
  start = gAllocations;
  { TvContact fresh; }
  EXPECT_EQ(0, gAllocations - start);

  TAdvvCard card;
  card.ProdID = "Parvela";
  card.OnWriteContact = [](TvContact&, bool& write) { write = true; };
  TvContact c;
  c.vCardVersion = vv40;
  c.FirstName = "J\xFCrgen";
  c.LastName = "M\xFCller";
  c.Company = "Beispiel GmbH, Stuttgart";
  c.Categories.SetText("Kunden");
  c.Addresses.Add().Street =
      "Hauptstra\xDF"
      "e 1";
  c.PhoneNumbers.Add().PhoneNumber = "07111234567";
  c.Emails.Add().EmailAddress = "j.mueller@example.com";
  c.GeoLocation.Latitude = 48.7758;
  c.GeoLocation.Longitude = 9.1829;
  for (const bool asAnsi : {true, false}) {
    card.BeginStream();
    std::string out;
    out.reserve(1 << 16);
    card.WriteContact(c, out, asAnsi);  // warms the card buffer
    start = gAllocations;
    for (int i = 0; i < 20; ++i) card.WriteContact(c, out, asAnsi);
    EXPECT_EQ(0, gAllocations - start) << asAnsi;
  }
}

}  // namespace
}  // namespace pv
