// The WebDAV/CardDAV XML this program sends and reads: PROPFIND bodies and the multistatus answer,
// reduced to what finding an address book and an ETag needs.
#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

namespace pv::carddav {

// One <response> of a multistatus, with the properties that came with status 200.
struct TDavResponse {
  QString Href;                  // as sent (may be a path or a whole URL)
  bool IsAddressBook = false;    // resourcetype holds CARDDAV:addressbook
  bool IsCollection = false;     // resourcetype holds DAV:collection
  bool IsPrincipal = false;      // resourcetype holds DAV:principal
  QString DisplayName;           // DAV:displayname
  QString ETag;                  // DAV:getetag
  QString CurrentUserPrincipal;  // href inside DAV:current-user-principal
  QString AddressBookHomeSet;    // first href inside CARDDAV:addressbook-home-set
};

// The PROPFIND body asking for what discovery needs (resourcetype, displayname, getetag,
// current-user-principal, addressbook-home-set).
QByteArray DiscoveryPropfindBody();

// Parses a 207 multistatus body. Properties under a propstat whose status is not 200 are left out.
// Returns false (and what it parsed so far) when the body is no well-formed multistatus.
bool ParseMultistatus(const QByteArray& body, std::vector<TDavResponse>& out);

}  // namespace pv::carddav
