// Identity of a record's card on the server: a UID that stays the same for the record across runs
// and database moves, the resource name that follows from it, and the card text that carries it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pv::carddav {

// The name-based (version 5, SHA-1) UUID of the record's ID written in decimal, in a namespace of
// this program's own: lower-case text "xxxxxxxx-xxxx-5xxx-yxxx-xxxxxxxxxxxx". The same ID always
// gives the same UID, whatever the database's folder.
std::string RecordUid(int64_t recordId);

// The server resource name of a UID: the UID followed by ".vcf".
std::string ResourceName(const std::string& uid);

// The card text with "UID:urn:uuid:<uid>" right after its VERSION line, ended like that line
// (CR LF or LF). A UID line already in the card is dropped first. A card without a VERSION line
// gets the UID after its BEGIN line; text that is no card comes back unchanged.
std::string CardWithUid(std::string_view card, const std::string& uid);

}  // namespace pv::carddav
