#include "export/PVAdressJob.h"

#include <exception>

#include "files/AnsiText.h"
#include "files/FileUtil.h"

namespace pv {

// The cards written so far: collected in a buffer and written to a temporary file piece by piece;
// the file replaces the output file only at Commit. Destroyed without Commit, it leaves the
// output file as it was.
class TCardOutput {
 public:
  TCardOutput(const std::string& file, size_t chunk) : file_(file), chunk_(chunk) {
    buffer_.reserve(chunk_ + (64 << 10));
  }
  std::string& Buffer() { return buffer_; }
  // Writes the buffer out once it holds a chunk. Raises EFCreateError.
  void FlushWhenFull() {
    if (buffer_.size() >= chunk_) Flush();
  }
  // Writes the rest and replaces the output file. Raises EFCreateError.
  void Commit() {
    Flush();
    writer_->Commit();
  }

 private:
  void Flush() {
    if (!writer_) writer_ = std::make_unique<AtomicFileWriter>(file_);
    writer_->Write(buffer_);
    buffer_.clear();
  }
  const std::string& file_;
  const size_t chunk_;
  std::string buffer_;
  std::unique_ptr<AtomicFileWriter> writer_;  // created with the first piece
};

namespace {

constexpr const char* kNoNewData = "Keine neuen Daten.";

}  // namespace

std::string DisplayFileName(const std::string& path) {
  return EscapeMarkup(Utf8ToAnsi(ExtractFileName(path)));
}

TPVAdressJob::TPVAdressJob(HWND wnd, std::string outFile, std::string dbPath,
                           std::string ledgerPath, bool onlyChanges, bool asAnsi,
                           TvCardVersion version)
    : DBPath(std::move(dbPath)),
      OutFile(std::move(outFile)),
      Wnd(wnd),
      OnlyChanges(onlyChanges),
      AsAnsi(asAnsi),
      LedgerPath(std::move(ledgerPath)),
      Version(version) {
  Connection = std::make_unique<TAdsConnection>();
  Connection->Name.append(1, '_').append(std::to_string(GuidNumber()));
  Connection->AdsServerTypes = stADS_LOCAL;
  Query = std::make_unique<TAdsQuery>();
  Card = std::make_unique<TAdvvCard>();
  Card->ProdID = kCardProdId;
  Card->OnWriteContact = [this](TvContact& c, bool& write) { DoWriteContact(c, write); };
  Ledger = std::make_unique<TChangeLedger>();
}

TPVAdressJob::~TPVAdressJob() {
  Connection.reset();
  Query.reset();
  Card.reset();
  Ledger.reset();
}

void TPVAdressJob::DoWriteContact(TvContact& contact, bool& write) {
  write = wideId_ || !ledgerInUse_ ||
          ContactChanged(contact.ScoreItem.RecordID, contact.ScoreItem.ChangeStamp);
}

void TPVAdressJob::Execute() {
  auto cell = std::make_unique<TResultCell>();
  std::exception_ptr foreign;
  try {
    Export();
    cell->Ok = true;
  } catch (const std::exception& e) {
    result_ = EscapeMarkup(e.what());
  } catch (...) {
    foreign = std::current_exception();
  }
  cell->Text = result_;
  TResultCell* raw = cell.release();
  if (!PostMessage(Wnd, WM_EXPORTDONE, reinterpret_cast<std::uintptr_t>(raw), 0)) delete raw;
  if (foreign) std::rethrow_exception(foreign);  // the pool swallows it
}

// From opening the database to saving the ledger; any failure ends the steps where it happens,
// before the output file or the ledger is replaced.
void TPVAdressJob::Export() {
  result_.clear();
  OpenAddressTable(*Connection, *Query, DBPath);
  TCardOutput output(OutFile, WriteChunkBytes);
  WriteCards(output);
  CommitOutput(output);
  // A full export rebuilds the ledger from an empty tree; the file is replaced only now, so that
  // a failed export or a failed save leaves the previous ledger in place.
  SaveLedger();
}

// One thread reads the table and a second picks the contact data out of the records; this thread
// loads the ledger, fills the contacts, lets the ledger decide and writes the accepted cards,
// building only those: the ledger decides by ID and stamp alone. (Building the cards on the
// picking thread while this one falls behind was measured to cost more than it saves: every
// card's text then crosses between threads once more.) Without a ledger file a ledger left empty
// would let every record through and never be saved: it is not kept then.
void TPVAdressJob::WriteCards(TCardOutput& output) {
  Card->BeginStream();
  TContactFiller filler(Version);
  // The records are picked in the output's encoding, so that the cards are written as their
  // texts are held.
  const TPickedText form = WritesAnsi() ? TPickedText::Ansi : TPickedText::Utf8;
  const auto prepare = [this] {
    if (OnlyChanges) LoadLedger();
    ledgerInUse_ = !LedgerPath.empty() || !Ledger->Empty();
  };
  const auto consume = [&](const TRowBatch& batch) {
    for (size_t r = 0; r < batch.Rows(); ++r) {
      const TRowView row(batch, r);
      wideId_ = !IsLedgerId(row.Id());
      Card->WriteContactAskedFirst(filler.Fill(row), output.Buffer(), kAsHeld);
      output.FlushWhenFull();
    }
  };
  PipeAddressRows(*Query, form, prepare, consume);
  ledgerInUse_ = true;
}

void TPVAdressJob::CommitOutput(TCardOutput& output) {
  const int written = Card->WrittenCount();
  if (written < 1) {
    result_ = kNoNewData;
    return;
  }
  output.Commit();
  result_ = "<b>" + FormatCount(written) + "</b> Adressen nach <b>" + DisplayFileName(OutFile) +
            "</b> geschrieben.";
}

}  // namespace pv
