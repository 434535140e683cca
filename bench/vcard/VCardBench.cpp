// Cost of writing the export job's typical contact: a fresh contact filled and streamed into the
// output, as the job does for every address record. Reports the time for a million contacts.
#include <benchmark/benchmark.h>

#include <string>

#include "vcard/VCard.h"

namespace {

void FillTypical(pv::TvContact& c, int id) {
  c.vCardVersion = pv::vv40;
  c.ScoreItem.RecordID = id;
  c.ScoreItem.ChangeStamp = "2024.15.03.14.30.05";
  c.Categories.SetText("Kunden");
  c.FirstName = "J\xFCrgen";
  c.LastName = "M\xFCller-Westernhagen";
  c.Company = "Beispiel Maschinenbau GmbH";
  pv::TvAddress& a = c.Addresses.Add();
  a.AddressType = pv::ftWork;
  a.Street =
      "Hauptstra\xDF"
      "e 117";
  a.City = "Stuttgart";
  a.PostCode = "70173";
  pv::TvPhone& p = c.PhoneNumbers.Add();
  p.PhoneNumber = "07111234567";
  p.FieldType = pv::ftWork;
  pv::TvEmail& e = c.Emails.Add();
  e.EmailAddress = "j.mueller@beispiel-maschinenbau.de";
  e.EmailType = pv::ftWork;
}

// Arg: 1 = Windows-1252 output, 0 = UTF-8.
void BM_MillionTypicalContacts(benchmark::State& state) {
  const bool asAnsi = state.range(0) != 0;
  constexpr int kContacts = 1000000;
  pv::TAdvvCard card;
  card.ProdID = "Parvela";
  card.OnWriteContact = [](pv::TvContact&, bool& write) { write = true; };
  // The output's own growth is not the writer's cost: give it room, with its pages touched.
  std::string out(400u << 20, '\0');
  for (auto _ : state) {
    out.clear();
    card.BeginStream();
    for (int i = 0; i < kContacts; ++i) {
      pv::TvContact c;
      FillTypical(c, i);
      card.WriteContact(c, out, asAnsi);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(out.size());
  state.SetItemsProcessed(state.iterations() * kContacts);
}
BENCHMARK(BM_MillionTypicalContacts)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The card text alone, without building the contact.
void BM_BuildCardText(benchmark::State& state) {
  pv::TAdvvCard card;
  card.ProdID = "Parvela";
  pv::TvContact c;
  FillTypical(c, 1);
  std::string out;
  out.reserve(1 << 20);
  for (auto _ : state) {
    if (out.size() > (1 << 19)) out.clear();
    card.WriteContact(c, out, false);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_BuildCardText);

// A contact with every property and values that need escapes, in each dialect
// (Arg: 0 = version-less, 1 = 2.1, 2 = 3.0, 3 = 4.0).
void BM_EveryPropertyCard(benchmark::State& state) {
  pv::TAdvvCard card;
  card.ProdID = "Parvela";
  pv::TvContact c;
  FillTypical(c, 1);
  c.vCardVersion = static_cast<pv::TvCardVersion>(state.range(0));
  c.FullName = "Dr. J\xFCrgen M\xFCller, jun.";
  c.Company = "Beispiel GmbH; Vertrieb, Nord";
  c.JobTitle = "Leiter Vertrieb";
  c.WebsiteURL = "https://example.com/~jm?a=1,2";
  c.SortString = "Mueller";
  c.Note.SetText(
      "Erster Kontakt 2019\r\nR\xFC"
      "ckruf = erw\xFCnscht");
  c.Addresses.Items(0).MailingLabel.SetText("Hauptstr. 1\r\n70173 Stuttgart");
  c.GeoLocation.Latitude = 48.7758;
  c.GeoLocation.Longitude = 9.1829;
  pv::TvSocialItem& s = c.SocialProfile.Add();
  s.Service = "example";
  s.User = "jm";
  s.URI = "https://social.example/jm";
  std::string out;
  out.reserve(1 << 20);
  for (auto _ : state) {
    if (out.size() > (1 << 19)) out.clear();
    card.WriteContact(c, out, false);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EveryPropertyCard)->DenseRange(0, 3);

}  // namespace

BENCHMARK_MAIN();
