#include "tests/export/LooseDb.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pv::test {

void MakeLooseDatabase(const std::string& folder, const std::vector<AddressRow>& rows) {
  mkdir(folder.c_str(), 0700);
  mkdir((folder + "/vCard.Export").c_str(), 0700);
  const std::string file = folder + "/Parvela.sqlite";
  unlink(file.c_str());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db,
               "CREATE TABLE Adressen (ID, NName, VName, Abt, IX, adr_42_, Ort, strasse, GR, "
               "adr_47_); BEGIN",
               nullptr, nullptr, nullptr);
  sqlite3_stmt* insert = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "INSERT INTO Adressen VALUES (?,?,?,?,?,?,?,?,?,?)", -1, &insert,
                               nullptr),
            SQLITE_OK);
  for (const AddressRow& r : rows) {
    if (r.ID) {
      sqlite3_bind_int64(insert, 1, *r.ID);
    } else {
      sqlite3_bind_null(insert, 1);
    }
    int column = 2;
    for (const auto* text :
         {&r.NName, &r.VName, &r.Abt, &r.IX, &r.adr_42_, &r.Ort, &r.strasse, &r.GR, &r.adr_47_}) {
      if (*text) {
        sqlite3_bind_text(insert, column, (*text)->data(), static_cast<int>((*text)->size()),
                          SQLITE_TRANSIENT);
      } else {
        sqlite3_bind_null(insert, column);
      }
      ++column;
    }
    EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
    sqlite3_reset(insert);
  }
  sqlite3_finalize(insert);
  EXPECT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
  sqlite3_close(db);
}

}  // namespace pv::test
