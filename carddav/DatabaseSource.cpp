// The database's records as card texts, read by the export's card reader.
#include "carddav/SyncRun.h"
#include "export/CardSource.h"

namespace pv::carddav {

TCardSource DatabaseSource(const std::string& dbFolder, const std::string& vcardVersion) {
  const TvCardVersion version = vcardVersion == "3.0" ? vv30 : vv40;
  return [dbFolder, version](const TCardSink& sink) {
    ReadCardRecords(dbFolder, version, [&sink](const TCardRecord& record) {
      sink(record.RecordID, record.ChangeStamp, record.CardText);
    });
  };
}

}  // namespace pv::carddav
