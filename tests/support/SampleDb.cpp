#include "tests/support/SampleDb.h"

#include <gtest/gtest.h>

#include <exception>

namespace pv::test {

std::string MakeSampleDatabase(const std::string& folder, int64_t n, uint64_t seed) {
  try {
    return sampledb::WriteSampleDatabase(folder, n, seed);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "sample database in " << folder << ": " << e.what();
    return {};
  }
}

std::string MakeAwkwardSampleDatabase(const std::string& folder, int64_t n, uint64_t seed) {
  try {
    return sampledb::WriteSampleDatabase(folder, n, seed, true);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "awkward sample database in " << folder << ": " << e.what();
    return {};
  }
}

std::string MakeDatabase(const std::string& folder, const std::vector<AddressRow>& rows,
                         bool withExportFolder) {
  try {
    return sampledb::WriteDatabase(folder, rows, withExportFolder);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "database in " << folder << ": " << e.what();
    return {};
  }
}

std::vector<int64_t> TouchSampleDatabase(const std::string& folder, int64_t k, uint64_t seed) {
  try {
    return sampledb::TouchDatabase(folder, k, seed);
  } catch (const std::exception& e) {
    ADD_FAILURE() << "touching the database in " << folder << ": " << e.what();
    return {};
  }
}

}  // namespace pv::test
