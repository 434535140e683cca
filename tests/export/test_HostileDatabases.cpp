// Databases no one should have, exported whole: each gives its cards in bounded time and memory
// and never stalls or breaks the export. Sizes are kept small for the sanitizer builds; with
// PV_FULL_SIZE=1 (the "slow" test of the release build) they are the full hostile sizes.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/export/JobFixture.h"
#include "tests/export/LooseDb.h"

namespace pv {
namespace {

using test::AddressRow;
using test::JobTest;
using test::ReadFile;
using test::RunSql;

bool FullSize() {
  const char* full = std::getenv("PV_FULL_SIZE");
  return full != nullptr && std::string(full) == "1";
}

// AddressSanitizer keeps freed memory in quarantine (256 MiB by default) before reusing it.
// The thread sanitizer keeps more per allocation, and a forked child of a process it watches may
// not run reliably: there the databases are made in this process.
#if defined(__SANITIZE_ADDRESS__)
constexpr long kSanitizerMiB = 300;
constexpr bool kMakeInChild = true;
#elif defined(__SANITIZE_THREAD__)
constexpr long kSanitizerMiB = 300;
constexpr bool kMakeInChild = false;
#else
constexpr long kSanitizerMiB = 0;
constexpr bool kMakeInChild = true;
#endif

long PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

AddressRow Plain(int64_t id, std::string ix) {
  AddressRow r;
  r.ID = id;
  r.IX = std::move(ix);
  return r;
}

struct Hostile {
  const char* name;
  std::function<void(const std::string& folder)> make;
  size_t cards;                                        // cards expected in the file
  long boundMiB;                                       // allowed growth of the peak memory
  std::function<void(const std::string& file)> check;  // more checks on the file; may be empty
};

std::vector<Hostile> Cases() {
  const bool full = FullSize();
  const size_t addresses = full ? 100000 : 20000;
  const size_t fieldBytes = full ? (50u << 20) : (5u << 20);
  const int emptyRows = full ? 10000000 : 100000;
  const auto fieldBound = static_cast<long>(fieldBytes >> 20) * 10 + 64;
  std::vector<Hostile> cases;
  cases.push_back({"NUL bytes in every column",
                   [](const std::string& f) {
                     const std::string nul("a\0b", 3);
                     AddressRow r = Plain(1, "x" + nul + "y@muster.de 0711" + nul + "1234567");
                     r.NName = r.VName = r.Abt = r.Ort = r.strasse = r.GR = r.adr_42_ = nul;
                     r.adr_47_ = "2024" + nul + "0101";
                     test::MakeLooseDatabase(f, {r, Plain(2, nul + "@" + nul + nul + nul)});
                   },
                   2,
                   100,
                   {}});
  cases.push_back({"text that is not UTF-8",
                   [](const std::string& f) {
                     AddressRow r = Plain(1, "\xFF\xFE@\xC3\x28.de 07111234567");
                     r.NName = "\xC3";
                     r.VName = "\xE2\x82";
                     r.Abt = "\xF8\x88\x80\x80\x80";
                     r.GR = "\xED\xA0\x80";
                     test::MakeLooseDatabase(f, {r});
                   },
                   1,
                   100,
                   {}});
  cases.push_back({"many addresses in one record",
                   [addresses](const std::string& f) {
                     std::string ix;
                     for (size_t i = 0; i < addresses; ++i) {
                       ix += "Nutzer" + std::to_string(addresses - i) + "@muster.de ";
                       if (i % 3 == 0)
                         ix += "NUTZER" + std::to_string(addresses - i) + "@MUSTER.DE ";
                       if (i % 7 == 0) ix += "0711" + std::to_string(1000000 + i) + " ";
                     }
                     test::MakeLooseDatabase(f, {Plain(1, ix)});
                   },
                   1, 400,
                   [addresses](const std::string& file) {
                     EXPECT_EQ(Count(file, "EMAIL;"), addresses);  // case-blind duplicates gone
                     EXPECT_EQ(Count(file, "TEL;"), (addresses + 6) / 7);
                   }});
  cases.push_back({"huge fields",
                   [fieldBytes](const std::string& f) {
                     AddressRow r = Plain(1, std::string(fieldBytes, 'x') + " a@muster.de");
                     r.NName = std::string(fieldBytes, 'N');
                     test::MakeLooseDatabase(f, {r, Plain(2, std::string(fieldBytes, ' '))});
                   },
                   1,
                   fieldBound,
                   {}});
  cases.push_back({"IDs out of range and of odd kinds",
                   [](const std::string& f) {
                     test::MakeLooseDatabase(
                         f, {Plain(4294967297LL, "a@muster.de"), Plain(INT64_MIN, "b@muster.de"),
                             Plain(1, "c@muster.de")});
                     RunSql(f,
                            "INSERT INTO Adressen (ID, IX) VALUES (NULL, 'd@muster.de'), "
                            "('abc', 'e@muster.de'), (1e300, 'f@muster.de'), "
                            "(x'00', 'g@muster.de')");
                   },
                   7,
                   100,
                   {}});
  cases.push_back({"a great many empty rows",
                   [emptyRows](const std::string& f) {
                     test::MakeLooseDatabase(f, {});
                     RunSql(f,
                            "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n "
                            "WHERE x < " +
                                std::to_string(emptyRows) +
                                ") INSERT INTO Adressen (ID) SELECT x FROM n;"
                                "INSERT INTO Adressen (ID, IX) VALUES (0, 'last@muster.de')");
                   },
                   1,
                   100,
                   {}});
  return cases;
}

TEST_F(JobTest, HostileDatabasesExportWhatTheyHoldInBoundedMemory) {
  for (const Hostile& c : Cases()) {
    SCOPED_TRACE(c.name);
    // Made in a child process, so that the rows built here do not raise this process's peak.
    if (!kMakeInChild) c.make(dir.path());
    std::fflush(stdout);
    const pid_t child = kMakeInChild ? fork() : 0;
    ASSERT_GE(child, 0);
    if (kMakeInChild && child == 0) {
      c.make(dir.path());
      _exit(testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    if (kMakeInChild) {
      ASSERT_EQ(waitpid(child, &status, 0), child);
      ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "database not made";
    }
    const long before = PeakRssMiB();
    for (const bool asAnsi : {false, true}) {
      const TResultCell r = Run(false, asAnsi);
      ASSERT_TRUE(r.Ok) << r.Text;
      EXPECT_EQ(r.Text, "<b>" + std::to_string(c.cards) +
                            "</b> Adressen nach <b>pv.vcf</b> "
                            "geschrieben.");
      const std::string file = ReadFile(Out());
      EXPECT_EQ(Count(file, "BEGIN:VCARD"), c.cards);
      EXPECT_EQ(Count(file, "END:VCARD\r\n"), c.cards);
      if (c.check) c.check(file);
    }
    const long growth = PeakRssMiB() - before;
    std::printf("%s: peak memory grew by %ld MiB\n", c.name, growth);
    EXPECT_LE(growth, c.boundMiB + kSanitizerMiB);
  }
}

}  // namespace
}  // namespace pv
