// Record UIDs must match the name-based UUIDs any other tool computes for the same namespace, and
// the UID must land in the card whatever its line ends.
#include <gtest/gtest.h>

#include "carddav/CardUid.h"

namespace pv::carddav {
namespace {

TEST(RecordUid, IsTheVersion5UuidOfTheDecimalId) {
  // Computed independently with Python's uuid.uuid5 in the same namespace.
  const struct {
    int64_t id;
    const char* uid;
  } rows[] = {
      {1, "8e25b063-b09d-531f-961f-bf6e557e6783"},
      {0, "450f02d7-0be7-5919-883d-e0eee61dbe8e"},
      {-7, "52294322-5c3a-52d8-8837-b4eb6722892c"},
      {2147483647, "cae74c77-4e0b-580e-b7f8-767946492c2c"},
      {1099511627776, "1e891292-a50d-568d-bdd1-beabe200380e"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.id);
    EXPECT_EQ(RecordUid(row.id), row.uid);
  }
  EXPECT_EQ(ResourceName(RecordUid(1)), "8e25b063-b09d-531f-961f-bf6e557e6783.vcf");
}

TEST(CardWithUid, GoesAfterTheVersionLineWithItsLineEnd) {
  const std::string uid = "u-1";
  const struct {
    const char* name;
    const char* card;
    const char* expected;
  } rows[] = {
      {"CR LF", "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:A\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:urn:uuid:u-1\r\nFN:A\r\nEND:VCARD\r\n"},
      {"LF", "BEGIN:VCARD\nVERSION:3.0\nFN:A\nEND:VCARD\n",
       "BEGIN:VCARD\nVERSION:3.0\nUID:urn:uuid:u-1\nFN:A\nEND:VCARD\n"},
      {"old UID dropped, folded too",
       "BEGIN:VCARD\r\nUID:old-and-\r\n long\r\nVERSION:4.0\r\nuid;VALUE=text:x\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:urn:uuid:u-1\r\nEND:VCARD\r\n"},
      {"UIDX is another property", "BEGIN:VCARD\nVERSION:4.0\nUIDX:1\nEND:VCARD\n",
       "BEGIN:VCARD\nVERSION:4.0\nUID:urn:uuid:u-1\nUIDX:1\nEND:VCARD\n"},
      {"no VERSION line", "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n",
       "BEGIN:VCARD\r\nUID:urn:uuid:u-1\r\nFN:A\r\nEND:VCARD\r\n"},
      {"VERSION line last, no line end", "BEGIN:VCARD\r\nVERSION:4.0",
       "BEGIN:VCARD\r\nVERSION:4.0\nUID:urn:uuid:u-1\n"},
      {"no card", "FN:A\n", "FN:A\n"},
      {"empty", "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(CardWithUid(row.card, uid), row.expected);
  }
}

}  // namespace
}  // namespace pv::carddav
