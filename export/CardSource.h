// The address table as a stream of cards, for consumers other than the file export (such as an
// online address book): the same usable records and the same card text the file export writes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "vcard/Contact.h"

namespace pv {

// One usable record of the address table as its card text. The views are valid only during the
// sink call that receives them.
struct TCardRecord {
  int64_t RecordID;              // the record's ID at full width
  std::string_view ChangeStamp;  // "yyyy.dd.mm.hh.nn.ss", as the ledger keeps it
  std::string_view CardText;     // UTF-8, "BEGIN:VCARD" to "END:VCARD" and the final CR LF
};

// Reads the database folder's address table and calls sink for every usable record (one with an
// e-mail address or a long phone number) in table order, with the same card text the file export
// writes for it (UTF-8; version vv40 or vv30), no ledger involved. Raises the job's own exceptions
// (EADSDatabaseError ...) on failure. sink may throw to stop; its exception is raised here. sink
// runs on the calling thread; the table is read on a second one meanwhile.
void ReadCardRecords(const std::string& dbPath, TvCardVersion version,
                     const std::function<void(const TCardRecord&)>& sink);

}  // namespace pv
