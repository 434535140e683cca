// The export job's test fixture: a receiver of the posted result, sample rows, the expected card
// text built from its lines, and a fixture that runs one job on a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "export/PVAdressJob.h"
#include "tests/support/SampleDb.h"
#include "tests/support/TempDir.h"

namespace pv::test {

// Collects what the job posts, from whatever thread.
class Receiver : public TMessageTarget {
 public:
  bool Post(unsigned msg, std::uintptr_t w, std::intptr_t) override {
    std::lock_guard<std::mutex> hold(lock_);
    EXPECT_EQ(msg, WM_EXPORTDONE);
    cells_.emplace_back(reinterpret_cast<TResultCell*>(w));
    posted_.notify_all();
    return true;
  }
  size_t Count() {
    std::lock_guard<std::mutex> hold(lock_);
    return cells_.size();
  }
  // Waits (generously) until count cells have arrived; false when they never do.
  bool WaitFor(size_t count) {
    std::unique_lock<std::mutex> hold(lock_);
    return posted_.wait_for(hold, std::chrono::seconds(60), [&] { return cells_.size() >= count; });
  }
  TResultCell Last() {
    std::lock_guard<std::mutex> hold(lock_);
    return cells_.empty() ? TResultCell{} : *cells_.back();
  }

 private:
  std::mutex lock_;
  std::condition_variable posted_;
  std::vector<std::unique_ptr<TResultCell>> cells_;
};

// How the writer ends every line of a card.
constexpr std::string_view kLineEnd = "\r\n";

// A whole card as the file holds it, from its lines.
inline std::string CardText(std::initializer_list<std::string_view> lines) {
  std::string out;
  for (const std::string_view line : lines) {
    out += line;
    out += kLineEnd;
  }
  return out;
}

// One line of a card, as it can be searched for in the file.
inline std::string Line(std::string_view text) { return std::string(text) + std::string(kLineEnd); }

// The card file with every REV value (the time of the run, in either form) made "*".
inline std::string WithoutRev(std::string text) {
  for (size_t at = text.find("REV:"); at != std::string::npos; at = text.find("REV:", at + 1)) {
    const size_t end = text.find('\r', at);
    text.replace(at + 4, (end == std::string::npos ? text.size() : end) - at - 4, "*");
  }
  return text;
}

inline AddressRow Row(int64_t id, std::string ix, std::string stamp = "20240315 143005120") {
  AddressRow r;
  r.ID = id;
  r.NName = "Muster" + std::to_string(id);
  r.VName = "Erika";
  r.Abt = "  Vertrieb\xC2\xACNord ";
  r.IX = std::move(ix);
  r.adr_42_ = "70173";
  r.Ort = "Stuttgart";
  r.strasse =
      "K\xC3\xB6nigstra\xC3\x9F"
      "e 1";
  r.GR = "Kunden\r\nGute Kunden";
  r.adr_47_ = std::move(stamp);
  return r;
}

class JobTest : public ::testing::Test {
 protected:
  std::string Ledger() const { return dir / "vCard.Export/calc.txt"; }
  std::string Out() const { return dir / "pv.vcf"; }

  // Runs one job and returns its posted result.
  TResultCell Run(bool onlyChanges, bool asAnsi = false, const std::string& ledger = "-",
                  const std::string& out = "-", const std::string& db = "-") {
    TPVAdressJob job(&receiver, out == "-" ? Out() : out, db == "-" ? dir.path() : db,
                     ledger == "-" ? Ledger() : ledger, onlyChanges, asAnsi, version);
    job.Connection->BusyTimeoutMs = 200;
    job.WriteChunkBytes = chunk;
    const size_t before = receiver.Count();
    job.Execute();
    EXPECT_EQ(receiver.Count(), before + 1);
    return receiver.Last();
  }

  // The card of record id in the file text, or empty.
  static std::string CardOf(const std::string& file, int id) {
    const std::string n = "N:Muster" + std::to_string(id) + ";";
    const size_t at = file.find(n);
    if (at == std::string::npos) return {};
    const size_t begin = file.rfind("BEGIN:VCARD", at);
    return file.substr(begin, file.find("END:VCARD", at) + 11 - begin);
  }

  TempDir dir;
  Receiver receiver;
  size_t chunk = kDefaultWriteChunk;  // lowered to take the path of outputs larger than a chunk
  TvCardVersion version = vv40;
};

}  // namespace pv::test
