// Address databases for tests: a realistic sample made by the sample database maker's generator,
// or a database holding exactly the rows a test gives (NULLs included).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/sampledb/SampleGen.h"

namespace pv::test {

// One record of Adressen: ID and nine texts (UTF-8); an empty optional is stored as NULL, a row
// without ID gets the next free number.
using AddressRow = pv::sampledb::AddressRow;

// Writes <folder>/Parvela.sqlite with n sample records (IDs 1..n) for the seed and creates
// <folder>/vCard.Export/. Returns the database path; fails the test when it cannot.
std::string MakeSampleDatabase(const std::string& folder, int64_t n, uint64_t seed = 1);

// Like MakeSampleDatabase, with a third of the records holding in every text column what a card
// must escape or convert (umlauts, the euro sign, ";" "," "\", line breaks, characters outside
// Windows-1252); see pv-sampledb --awkward.
std::string MakeAwkwardSampleDatabase(const std::string& folder, int64_t n, uint64_t seed = 1);

// Writes <folder>/Parvela.sqlite holding exactly these rows (replacing an existing one), and
// <folder>/vCard.Export/ when withExportFolder. Returns the database path; fails the test when it
// cannot.
std::string MakeDatabase(const std::string& folder, const std::vector<AddressRow>& rows,
                         bool withExportFolder = false);

// Gives k records of the database in folder a new, later change stamp (see pv-sampledb --touch).
// Returns the IDs changed, ascending; fails the test when it cannot.
std::vector<int64_t> TouchSampleDatabase(const std::string& folder, int64_t k, uint64_t seed = 1);

}  // namespace pv::test
