#include "tools/sampledb/SampleGen.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string_view>

#include "files/AnsiText.h"
#include "files/Errors.h"

namespace pv::sampledb {
namespace {

// The vocabularies are written in Windows-1252, like all text of the system, and stored as UTF-8.
// clang-format off
constexpr auto kFirstNames = std::to_array<std::string_view>({
    "J\xFCrgen", "J\xF6rg", "Bj\xF6rn", "G\xFCnther", "K\xE4the", "S\xF6ren", "Hans", "Peter",
    "Klaus", "Michael", "Thomas", "Andreas", "Stefan", "Wolfgang", "Uwe", "Frank", "Sabine",
    "Petra", "Monika", "Ursula", "Andrea", "Claudia", "Birgit", "Susanne", "Gabriele", "Heike",
    "Lena", "Marie", "Sophie", "Lukas", "Felix", "Maximilian", "Ren\xE9", "Ang\xE9lique",
    "Hannelore", "Gerda", "D\xF6rte", "Hans-J\xFCrgen", "Anna-Lena"});

constexpr auto kLastNames = std::to_array<std::string_view>({
    "M\xFCller", "Schmidt", "Schneider", "Fischer", "Weber", "Meyer", "Wagner", "Becker",
    "Sch\xE4" "fer", "Koch", "Bauer", "Richter", "Klein", "Wolf", "Schr\xF6" "der", "Neumann",
    "Schwarz", "Zimmermann", "Braun", "Kr\xFCger", "Hofmann", "Hartmann", "Lange", "Schmitt",
    "Werner", "Schmitz", "Krause", "Meier", "Lehmann", "Schmid", "Schulze", "Maier", "K\xF6hler",
    "Herrmann", "K\xF6nig", "Walter", "Mayer", "Huber", "Kaiser", "Fuchs", "Peters", "Lang",
    "Wei\xDF", "Gro\xDF", "B\xF6hm", "J\xE4ger", "Vo\xDF", "G\xFCnther"});

struct City {
  std::string_view name;
  int postCode;  // the lowest post code used for the city
};
constexpr auto kCities = std::to_array<City>({
    {"Stuttgart", 70173}, {"M\xFCnchen", 80331}, {"K\xF6ln", 50667}, {"D\xFCsseldorf", 40210},
    {"N\xFCrnberg", 90402}, {"W\xFCrzburg", 97070}, {"L\xFC" "beck", 23552},
    {"Gie\xDF" "en", 35390}, {"Leipzig", 4103}, {"Dresden", 1067}, {"Berlin", 10115},
    {"Hamburg", 20095}, {"Frankfurt am Main", 60311}, {"Osnabr\xFC" "ck", 49074},
    {"G\xF6ttingen", 37073}, {"Esslingen am Neckar", 73728}});

constexpr auto kStreets = std::to_array<std::string_view>({
    "Hauptstra\xDF" "e", "Bahnhofstra\xDF" "e", "K\xF6nigstra\xDF" "e", "Gartenweg",
    "Schillerstra\xDF" "e", "Goethestra\xDF" "e", "Lindenallee", "Am M\xFChlbach", "Kirchplatz",
    "Rosenweg", "Friedrichstra\xDF" "e", "Marktplatz", "Industriestra\xDF" "e",
    "Im Gr\xFCnen Winkel", "Schlo\xDF" "allee", "Talstra\xDF" "e", "Ulmer Stra\xDF" "e",
    "Br\xFC" "ckenstra\xDF" "e", "An der S\xE4ge", "Weinsteige"});

constexpr auto kDepartments = std::to_array<std::string_view>({
    "Vertrieb", "Einkauf", "Gesch\xE4" "ftsf\xFChrung", "Buchhaltung", "Technik", "Lager",
    "Au\xDF" "endienst", "Personal", "Marketing", "Kundendienst", "Entwicklung", "Verwaltung"});

constexpr auto kRegions = std::to_array<std::string_view>({
    "Nord", "S\xFC" "d", "Ost", "West", "Mitte", "International", "Bayern", "Export"});

constexpr auto kGroups = std::to_array<std::string_view>({
    "Kunden", "Lieferanten", "Interessenten", "Presse", "Weihnachtskarte", "Partner", "Privat",
    "Newsletter", "Beh\xF6rden", "Verb\xE4nde"});

constexpr auto kMailDomains = std::to_array<std::string_view>({
    "beispiel.de", "web.de", "gmx.de", "t-online.de", "firma-mueller.de", "mail.de",
    "handwerk-online.de", "example.com"});

constexpr auto kAreaCodes = std::to_array<std::string_view>({
    "711", "89", "221", "211", "911", "931", "451", "30", "40", "69", "7153", "151"});

constexpr auto kNoiseWords = std::to_array<std::string_view>({
    "Kunde", "seit", "R\xFC" "ckruf", "Zentrale", "privat", "Fax", "mobil", "Durchwahl", "ab",
    "Uhr", "Gesch\xE4" "ftlich", "Tel."});
// clang-format on

// What the awkward records add to their texts (UTF-8): characters that a card escapes, line
// breaks, the euro sign, umlauts, a character outside Windows-1252 and markup characters.
constexpr auto kAwkwardTails = std::to_array<std::string_view>(
    {" & S\xC3\xB6hne", "; Teil 2", ", Nachtrag", " Back\\slash", "\r\nzweite Zeile", "\nnur LF",
     " 5 \xE2\x82\xAC", " \xC5\x81\xC3\xB3\x64\xC5\xBA", " <Partner>", " \"Anf\xC3\xBChrung\"",
     "\\;,\r\n\xC3\xA4\xE2\x82\xAC"});
// Words of IX that are no contact data but hold the same characters, and e-mail addresses with
// an umlaut.
constexpr auto kAwkwardWords =
    std::to_array<std::string_view>({"Notiz;a,b\\c\xE2\x82\xAC",
                                     "R\xC3\xBC"
                                     "ckruf\r\nbitte",
                                     "0711;1234567", "j\xC3\xBCrgen.m\xC3\xBCller@beispiel.de",
                                     "b\xC3\xBCro@stra\xC3\x9F"
                                     "e.de"});
constexpr int kAwkwardPercent = 33;

constexpr const char* kCreateTable =
    "CREATE TABLE Adressen (ID INTEGER PRIMARY KEY, NName TEXT, VName TEXT, Abt TEXT, IX TEXT, "
    "adr_42_ TEXT, Ort TEXT, strasse TEXT, GR TEXT, adr_47_ TEXT)";
constexpr const char* kInsert =
    "INSERT INTO Adressen (ID, NName, VName, Abt, IX, adr_42_, Ort, strasse, GR, adr_47_) "
    "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)";

// Years of the generated stamps, and of the stamps that TouchDatabase sets.
constexpr int kFirstYear = 2016, kLastYear = 2025;
constexpr int kTouchFirstYear = 2026, kTouchLastYear = 2027;

template <size_t N>
std::string_view Pick(SampleGenerator& gen, const std::array<std::string_view, N>& list) {
  return list[gen.Below(N)];
}

// prefix followed by count random digits.
std::string Digits(SampleGenerator& gen, int count, std::string_view prefix = {}) {
  std::string out(prefix);
  for (int i = 0; i < count; ++i) out += static_cast<char>('0' + gen.Below(10));
  return out;
}

// The name as it appears in an e-mail address: lower case ASCII, umlauts spelled out.
std::string MailPart(std::string_view name) {
  std::string out;
  for (const char ch : name) {
    switch (static_cast<unsigned char>(AnsiLower(static_cast<unsigned char>(ch)))) {
      case 0xE4:
        out += "ae";
        break;
      case 0xF6:
        out += "oe";
        break;
      case 0xFC:
        out += "ue";
        break;
      case 0xDF:
        out += "ss";
        break;
      case 0xE9:
        out += "e";
        break;
      case ' ':
        break;
      default:
        out += static_cast<char>(AnsiLower(static_cast<unsigned char>(ch)));
    }
  }
  return out;
}

std::string Mail(SampleGenerator& gen, std::string_view first, std::string_view last) {
  const std::string domain(Pick(gen, kMailDomains));
  switch (gen.Below(5)) {
    case 0:
      return "info@" + domain;
    case 1:
      return MailPart(first).substr(0, 1) + "." + MailPart(last) + "@" + domain;
    case 2:
      return MailPart(last) + std::to_string(gen.Below(100)) + "@" + domain;
    default:
      return MailPart(first) + "." + MailPart(last) + "@" + domain;
  }
}

// A phone number that counts: "0", an area code and a subscriber number, 9 to 13 digits.
std::string LongPhone(SampleGenerator& gen) {
  const std::string_view area = Pick(gen, kAreaCodes);
  const int subscriber = 8 - static_cast<int>(area.size()) + static_cast<int>(gen.Below(5));
  std::string prefix = "0";
  prefix += area;
  return Digits(gen, std::max(subscriber, 5), prefix);
}

// A word of IX that is no contact data: short numbers, numbers with "+" or "-", plain words.
std::string Noise(SampleGenerator& gen) {
  switch (gen.Below(7)) {
    case 0:
      return Digits(gen, 1 + static_cast<int>(gen.Below(4)));  // short number
    case 1:
      return Digits(gen, 6, "+49" + std::string(Pick(gen, kAreaCodes)));
    case 2:
      return Digits(gen, 6, "0" + std::string(Pick(gen, kAreaCodes)) + "-");
    case 3:
      return Digits(gen, 5 + static_cast<int>(gen.Below(3)), "0");  // 6 to 8 digits
    case 4:
      return std::to_string(100000 + gen.Below(900000));  // no leading 0
    default:
      return std::string(Pick(gen, kNoiseWords));
  }
}

std::string Ix(SampleGenerator& gen, bool withContact, std::string_view first,
               std::string_view last) {
  std::vector<std::string> words;
  if (withContact) {
    const auto kind = gen.Below(10);  // 0-3 mail only, 4-6 phone only, 7-9 both
    const int mails = kind <= 3 || kind >= 7 ? 1 + static_cast<int>(gen.Below(2)) : 0;
    const int phones = kind >= 4 ? 1 + static_cast<int>(gen.Below(3)) : 0;
    for (int i = 0; i < mails; ++i) words.push_back(Mail(gen, first, last));
    for (int i = 0; i < phones; ++i) words.push_back(LongPhone(gen));
    if (gen.Chance(5)) words.push_back(AnsiUpperCase(words.front()));  // a case-only duplicate
    if (gen.Chance(5)) words.push_back(words.back());                  // an exact duplicate
  }
  const int noise = static_cast<int>(gen.Below(withContact ? 3 : 4));
  for (int i = 0; i < noise; ++i) words.push_back(Noise(gen));
  for (size_t i = words.size(); i > 1; --i) std::swap(words[i - 1], words[gen.Below(i)]);

  const std::string_view separator = gen.Chance(5) ? "  " : " ";
  std::string out;
  for (const auto& word : words) {
    if (!out.empty()) out += separator;
    out += word;
  }
  return out;
}

std::string Department(SampleGenerator& gen) {
  std::string out(Pick(gen, kDepartments));
  if (gen.Chance(20)) {
    out += gen.Chance(70) ? "\xAC" : (gen.Chance(50) ? " \xAC" : "\xAC ");
    out += Pick(gen, kRegions);
  }
  if (gen.Chance(25)) out = std::string(1 + gen.Below(2), ' ') + out + "  ";
  return out;
}

std::string Groups(SampleGenerator& gen) {
  std::string out(Pick(gen, kGroups));
  const int more = gen.Chance(30) ? 1 + static_cast<int>(gen.Below(2)) : 0;
  for (int i = 0; i < more; ++i) {
    const std::string_view group = Pick(gen, kGroups);
    if (out.find(group) == std::string::npos) (out += "\r\n") += group;
  }
  return out;
}

std::optional<std::string> Utf8(std::string_view ansi) { return AnsiToUtf8(ansi); }

bool IsLeap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysIn(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Owns an SQLite handle or statement and raises pv::Exception with SQLite's message.
struct Db {
  sqlite3* db = nullptr;
  ~Db() { sqlite3_close_v2(db); }
  void Check(int rc, const std::string& what) const {
    if (rc != SQLITE_OK && rc != SQLITE_ROW && rc != SQLITE_DONE) {
      throw Exception(what + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    }
  }
  void Exec(const char* sql) const { Check(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), sql); }
};

struct Stmt {
  sqlite3_stmt* stmt = nullptr;
  ~Stmt() { sqlite3_finalize(stmt); }
};

void BindText(sqlite3_stmt* stmt, int index, const std::optional<std::string>& value) {
  if (value) {
    sqlite3_bind_text(stmt, index, value->data(), static_cast<int>(value->size()), SQLITE_STATIC);
  } else {
    sqlite3_bind_null(stmt, index);
  }
}

namespace fs = std::filesystem;

// Builds the database from the rows that next() delivers (until it returns false) and puts it in
// place of <folder>/Parvela.sqlite.
std::string BuildDatabase(const std::string& folder, bool withExportFolder,
                          const std::function<bool(AddressRow&)>& next) {
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (!fs::is_directory(folder)) throw Exception("cannot create the folder " + folder);
  const fs::path target = fs::path(folder) / DatabaseFileName;
  const fs::path temp = fs::path(folder) / (std::string(DatabaseFileName) + ".building-" +
                                            std::to_string(static_cast<long>(getpid())));
  fs::remove(temp, ec);
  try {
    {
      Db db;
      db.Check(sqlite3_open_v2(temp.c_str(), &db.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                               nullptr),
               "cannot create " + temp.string());
      // Nothing needs to survive a crash while building: the file is renamed into place only
      // when it is complete.
      db.Exec("PRAGMA journal_mode=OFF");
      db.Exec("PRAGMA synchronous=OFF");
      db.Exec(kCreateTable);
      db.Exec("BEGIN");
      Stmt insert;
      db.Check(sqlite3_prepare_v2(db.db, kInsert, -1, &insert.stmt, nullptr), "prepare");
      AddressRow row;
      while (next(row)) {
        sqlite3_stmt* s = insert.stmt;
        if (row.ID) {
          sqlite3_bind_int64(s, 1, *row.ID);
        } else {
          sqlite3_bind_null(s, 1);
        }
        BindText(s, 2, row.NName);
        BindText(s, 3, row.VName);
        BindText(s, 4, row.Abt);
        BindText(s, 5, row.IX);
        BindText(s, 6, row.adr_42_);
        BindText(s, 7, row.Ort);
        BindText(s, 8, row.strasse);
        BindText(s, 9, row.GR);
        BindText(s, 10, row.adr_47_);
        db.Check(sqlite3_step(s), "insert");
        sqlite3_reset(s);
      }
      db.Exec("COMMIT");
    }
    // A journal left by an old writer would be played back into the new file.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
      fs::remove(target.string() + suffix, ec);
    }
    fs::rename(temp, target);
  } catch (...) {
    fs::remove(temp, ec);
    throw;
  }
  if (withExportFolder) fs::create_directories(fs::path(folder) / ExportFolderName, ec);
  return target.string();
}

}  // namespace

SampleGenerator::SampleGenerator(uint64_t seed, bool awkward)
    : state_(seed), awkward_(awkward), awkwardState_(~seed) {}

void SampleGenerator::AddAwkwardText(AddressRow& row) {
  // Draws from the second sequence: the plain part of every record stays as without awkward.
  std::swap(state_, awkwardState_);
  if (Chance(kAwkwardPercent)) {
    for (std::optional<std::string>* column :
         {&row.NName, &row.VName, &row.Abt, &row.adr_42_, &row.Ort, &row.strasse, &row.GR}) {
      std::string text = column->value_or("");
      text += Pick(*this, kAwkwardTails);
      *column = text;
    }
    std::string ix = row.IX.value_or("");
    (ix += ix.empty() ? "" : " ") += Pick(*this, kAwkwardWords);
    row.IX = ix;
  }
  std::swap(state_, awkwardState_);
}

uint64_t SampleGenerator::Random() {
  // splitmix64: small, fast, and the same sequence everywhere.
  uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

uint64_t SampleGenerator::Below(uint64_t n) { return n == 0 ? 0 : Random() % n; }

bool SampleGenerator::Chance(int percent) { return Below(100) < static_cast<uint64_t>(percent); }

std::string SampleGenerator::Stamp(int firstYear, int lastYear) {
  const int year = firstYear + static_cast<int>(Below(lastYear - firstYear + 1));
  const int month = 1 + static_cast<int>(Below(12));
  const int day = 1 + static_cast<int>(Below(DaysIn(year, month)));
  // One draw per statement: the order of draws inside one call's arguments is not fixed.
  const int hour = static_cast<int>(Below(24));
  const int minute = static_cast<int>(Below(60));
  const int second = static_cast<int>(Below(60));
  const int millisecond = static_cast<int>(Below(1000));
  char text[80];
  std::snprintf(text, sizeof text, "%04d%02d%02d %02d%02d%02d%03d", year, month, day, hour, minute,
                second, millisecond);
  return text;
}

void SampleGenerator::Next(int64_t id, AddressRow& row) {
  row.ID = id;
  std::string first(Pick(*this, kFirstNames));
  std::string last(Pick(*this, kLastNames));
  if (Chance(4)) last += "-" + std::string(Pick(*this, kLastNames));
  const bool withContact = !Chance(20);

  row.VName = Chance(3) ? std::nullopt : Utf8(first);
  row.NName = Utf8(last);
  row.Abt = Chance(35) ? std::nullopt : (Chance(10) ? Utf8("") : Utf8(Department(*this)));
  const std::string ix = Ix(*this, withContact, first, last);
  row.IX = ix.empty() && Chance(50) ? std::nullopt : Utf8(ix);
  if (Chance(5)) {
    row.adr_42_ = row.Ort = row.strasse = std::nullopt;
  } else {
    const City& city = kCities[Below(kCities.size())];
    char postCode[8];
    std::snprintf(postCode, sizeof postCode, "%05d", city.postCode + static_cast<int>(Below(90)));
    row.adr_42_ = postCode;
    row.Ort = Utf8(city.name);
    std::string street(Pick(*this, kStreets));
    street += " " + std::to_string(1 + Below(180));
    if (Chance(10)) street += static_cast<char>('a' + Below(4));
    row.strasse = Utf8(street);
  }
  row.GR = Chance(40) ? std::nullopt : Utf8(Groups(*this));
  row.adr_47_ = Stamp(kFirstYear, kLastYear);
  if (awkward_) AddAwkwardText(row);
}

std::string WriteDatabase(const std::string& folder, const std::vector<AddressRow>& rows,
                          bool withExportFolder) {
  size_t i = 0;
  return BuildDatabase(folder, withExportFolder, [&](AddressRow& row) {
    if (i == rows.size()) return false;
    row = rows[i++];
    return true;
  });
}

std::string WriteSampleDatabase(const std::string& folder, int64_t n, uint64_t seed, bool awkward) {
  SampleGenerator gen(seed, awkward);
  int64_t id = 0;
  return BuildDatabase(folder, true, [&](AddressRow& row) {
    if (id >= n) return false;
    gen.Next(++id, row);
    return true;
  });
}

std::vector<int64_t> TouchDatabase(const std::string& folder, int64_t k, uint64_t seed) {
  const fs::path file = fs::path(folder) / DatabaseFileName;
  if (!fs::is_regular_file(file)) throw Exception("no database " + file.string());
  Db db;
  db.Check(sqlite3_open_v2(file.c_str(), &db.db, SQLITE_OPEN_READWRITE, nullptr),
           "cannot open " + file.string());
  sqlite3_busy_timeout(db.db, 5000);
  db.Exec("BEGIN IMMEDIATE");

  std::vector<int64_t> ids;
  {
    Stmt all;
    db.Check(
        sqlite3_prepare_v2(db.db, "SELECT ID FROM Adressen ORDER BY ID", -1, &all.stmt, nullptr),
        "select");
    int rc;
    while ((rc = sqlite3_step(all.stmt)) == SQLITE_ROW) {
      ids.push_back(sqlite3_column_int64(all.stmt, 0));
    }
    db.Check(rc, "select");
  }
  SampleGenerator gen(seed);
  const size_t count = k <= 0 ? 0 : std::min(ids.size(), static_cast<size_t>(k));
  for (size_t i = 0; i < count; ++i) {  // the first count places get a random choice
    std::swap(ids[i], ids[i + gen.Below(ids.size() - i)]);
  }
  ids.resize(count);
  std::sort(ids.begin(), ids.end());

  Stmt read, write;
  db.Check(sqlite3_prepare_v2(db.db, "SELECT adr_47_ FROM Adressen WHERE ID = ?", -1, &read.stmt,
                              nullptr),
           "select");
  db.Check(sqlite3_prepare_v2(db.db, "UPDATE Adressen SET adr_47_ = ? WHERE ID = ?", -1,
                              &write.stmt, nullptr),
           "update");
  for (const int64_t id : ids) {
    sqlite3_bind_int64(read.stmt, 1, id);
    db.Check(sqlite3_step(read.stmt), "select");
    std::string old;
    if (const auto* text = sqlite3_column_text(read.stmt, 0)) {
      old = reinterpret_cast<const char*>(text);
    }
    sqlite3_reset(read.stmt);
    std::string stamp;
    // The export compares stamps to the second: the new one must differ there.
    do {
      stamp = gen.Stamp(kTouchFirstYear, kTouchLastYear);
    } while (stamp.compare(0, 15, old, 0, 15) == 0);
    sqlite3_bind_text(write.stmt, 1, stamp.data(), static_cast<int>(stamp.size()), SQLITE_STATIC);
    sqlite3_bind_int64(write.stmt, 2, id);
    db.Check(sqlite3_step(write.stmt), "update");
    sqlite3_reset(write.stmt);
  }
  db.Exec("COMMIT");
  return ids;
}

}  // namespace pv::sampledb
