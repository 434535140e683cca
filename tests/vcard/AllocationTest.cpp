// Counts heap allocations to hold the writer to its cost: a fresh contact allocates nothing, and
// writing a card into an output with room to spare allocates nothing either.
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
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace pv {
namespace {

long AllocationsSince(long start) { return gAllocations.load() - start; }

TEST(AllocationTest, CounterSeesAllocations) {
  const long start = gAllocations.load();
  auto p = std::make_unique<TvEmail>();
  EXPECT_EQ(1, AllocationsSince(start));
}

TEST(AllocationTest, FreshContactAllocatesNothing) {
  const long start = gAllocations.load();
  {
    TvContact c;
    c.vCardVersion = vv40;
    EXPECT_EQ(0, c.Emails.Count());
  }
  EXPECT_EQ(0, AllocationsSince(start));
}

TEST(AllocationTest, WritingACardReusesItsBuffers) {
  TAdvvCard card;
  card.ProdID = "Parvela";
  bool asked = false;
  card.OnWriteContact = [&asked](TvContact&, bool& write) { write = asked = true; };
  TvContact c;
  c.vCardVersion = vv40;
  c.FirstName = "J\xFCrgen";
  c.LastName = "M\xFCller";
  c.Company = "Beispiel GmbH, Stuttgart";
  c.Categories.SetText("Kunden");
  TvAddress& a = c.Addresses.Add();
  a.AddressType = ftWork;
  a.Street =
      "Hauptstra\xDF"
      "e 1";
  a.City = "Stuttgart";
  a.PostCode = "70173";
  TvPhone& p = c.PhoneNumbers.Add();
  p.PhoneNumber = "07111234567";
  p.FieldType = ftWork;
  TvEmail& e = c.Emails.Add();
  e.EmailAddress = "j.mueller@example.com";
  e.EmailType = ftWork;
  c.GeoLocation.Latitude = 48.7758;
  c.GeoLocation.Longitude = 9.1829;

  for (const bool asAnsi : {true, false}) {
    SCOPED_TRACE(asAnsi);
    card.BeginStream();
    std::string out;
    out.reserve(1 << 16);
    card.WriteContact(c, out, asAnsi);  // warms the card buffer
    const long start = gAllocations.load();
    for (int i = 0; i < 20; ++i) card.WriteContact(c, out, asAnsi);
    EXPECT_EQ(0, AllocationsSince(start));
    EXPECT_EQ(21, card.WrittenCount());
  }
  EXPECT_TRUE(asked);
}

}  // namespace
}  // namespace pv
