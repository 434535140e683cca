// The sample address database: the table Adressen filled with realistic German records, the same
// for a given seed, the writer behind it (which also takes hand-made rows), and the change of
// stamps on some records that a later export of changes must pick up.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pv::sampledb {

inline constexpr const char* DatabaseFileName = "Parvela.sqlite";
inline constexpr const char* ExportFolderName = "vCard.Export";
inline constexpr uint64_t DefaultSeed = 1;

// One record of Adressen. Text is UTF-8; an empty optional is written as NULL. A row without ID
// gets the next free number from SQLite.
struct AddressRow {
  std::optional<int64_t> ID{};
  std::optional<std::string> NName{}, VName{}, Abt{}, IX{}, adr_42_{}, Ort{}, strasse{}, GR{},
      adr_47_{};
};

// Makes sample records from a seed: the same seed gives the same records on every machine.
// About a fifth of them carry no e-mail address and no phone number of 9 or more digits.
// With awkward, the texts also hold what a card must escape or convert: in about a third of the
// records every text column gets umlauts, "€", ";", ",", "\", line breaks or a character
// outside Windows-1252 (the same seed gives the same records as without, plus those additions).
class SampleGenerator {
 public:
  explicit SampleGenerator(uint64_t seed, bool awkward = false);

  // Fills row with the next record, numbered id.
  void Next(int64_t id, AddressRow& row);

  // A change stamp "YYYYMMDD HHMMSSmmm" in one of the years first..last.
  std::string Stamp(int firstYear, int lastYear);

  uint64_t Random();           // the next 64 random bits
  uint64_t Below(uint64_t n);  // 0..n-1; 0 when n is 0
  bool Chance(int percent);    // true in about percent of the calls

 private:
  void AddAwkwardText(AddressRow& row);

  uint64_t state_;
  bool awkward_;
  uint64_t awkwardState_;  // its own sequence, so the plain records stay the same
};

// Writes <folder>/Parvela.sqlite holding exactly these rows, creating the folder when missing and
// <folder>/vCard.Export/ when withExportFolder. An existing database is replaced as a whole (the
// new one is built beside it and renamed over it). Returns the database path; throws
// pv::Exception with the reason on failure, leaving the old database as it was.
std::string WriteDatabase(const std::string& folder, const std::vector<AddressRow>& rows,
                          bool withExportFolder);

// Like WriteDatabase with n sample records numbered 1..n from seed; always creates vCard.Export.
std::string WriteSampleDatabase(const std::string& folder, int64_t n, uint64_t seed,
                                bool awkward = false);

// Gives k records of the existing database (all when k reaches their number), picked by seed, a
// new adr_47_ that differs from the old one to the second and is later than every stamp the
// generator makes. Returns the IDs of the changed records in ascending order; throws
// pv::Exception when the database cannot be opened or changed (nothing is changed then).
std::vector<int64_t> TouchDatabase(const std::string& folder, int64_t k, uint64_t seed);

}  // namespace pv::sampledb
