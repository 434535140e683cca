// A database whose Adressen table has no key, as the host product's may: IDs may repeat, fall
// outside 32 bits or be text, and rows stay in the order given.
#pragma once

#include <string>
#include <vector>

#include "tests/support/SampleDb.h"

namespace pv::test {

// Writes <folder>/Parvela.sqlite (replacing one) with these rows in this order, and
// <folder>/vCard.Export/. Fails the test when it cannot.
void MakeLooseDatabase(const std::string& folder, const std::vector<AddressRow>& rows);

}  // namespace pv::test
