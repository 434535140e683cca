#include "export/CardSource.h"

#include "addressdb/AdsConnection.h"
#include "addressdb/AdsQuery.h"
#include "export/AddressRows.h"
#include "vcard/VCard.h"

namespace pv {

void ReadCardRecords(const std::string& dbPath, TvCardVersion version,
                     const std::function<void(const TCardRecord&)>& sink) {
  TAdsConnection connection;
  TAdsQuery query;
  OpenAddressTable(connection, query, dbPath);
  TAdvvCard card;
  card.ProdID = kCardProdId;
  card.BeginStream();
  TContactFiller filler(version);
  std::string text;
  // Picked in UTF-8 already, the cards are written as their texts are held.
  PipeAddressRows(query, TPickedText::Utf8, {}, [&](const TRowBatch& batch) {
    for (size_t r = 0; r < batch.Rows(); ++r) {
      const TRowView row(batch, r);
      text.clear();
      card.WriteContact(filler.Fill(row), text, kAsHeld);
      sink(TCardRecord{row.Id(), row.Stamp(), text});
    }
  });
}

}  // namespace pv
