// The database's records as card texts, read by the export's card reader.
#include <stdexcept>

#include "carddav/SyncRun.h"

#if __has_include("export/CardSource.h")
#include "export/CardSource.h"
#define PV_HAVE_CARD_SOURCE 1
#endif

namespace pv::carddav {

TCardSource DatabaseSource(const std::string& dbFolder, const std::string& vcardVersion) {
#ifdef PV_HAVE_CARD_SOURCE
  const TvCardVersion version = vcardVersion == "3.0" ? vv30 : vv40;
  return [dbFolder, version](const TCardSink& sink) {
    ReadCardRecords(dbFolder, version, [&sink](const TCardRecord& record) {
      sink(record.RecordID, record.ChangeStamp, record.CardText);
    });
  };
#else
  (void)vcardVersion;
  return [dbFolder](const TCardSink&) {
    throw std::runtime_error("Kartenleser fehlt in diesem Build (" + dbFolder + ")");
  };
#endif
}

}  // namespace pv::carddav
