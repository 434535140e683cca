#include "carddav/DavXml.h"

#include <QXmlStreamReader>

namespace pv::carddav {
namespace {

constexpr QStringView kDav = u"DAV:";
constexpr QStringView kCardDav = u"urn:ietf:params:xml:ns:carddav";

bool Is(const QXmlStreamReader& xml, QStringView ns, QStringView name) {
  return xml.namespaceUri() == ns && xml.name() == name;
}

// The text of the first DAV:href below the current element; leaves the reader at its end.
QString FirstHref(QXmlStreamReader& xml) {
  QString href;
  int depth = 1;
  while (depth > 0 && !xml.atEnd()) {
    const auto token = xml.readNext();
    if (token == QXmlStreamReader::StartElement) {
      if (href.isEmpty() && Is(xml, kDav, u"href")) {
        href = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
      } else {
        ++depth;
      }
    } else if (token == QXmlStreamReader::EndElement) {
      --depth;
    }
  }
  return href;
}

// Reads one <prop> into props; leaves the reader at its end.
void ReadProp(QXmlStreamReader& xml, TDavResponse& props) {
  while (xml.readNextStartElement()) {
    if (Is(xml, kDav, u"resourcetype")) {
      while (xml.readNextStartElement()) {
        if (Is(xml, kCardDav, u"addressbook")) props.IsAddressBook = true;
        if (Is(xml, kDav, u"collection")) props.IsCollection = true;
        if (Is(xml, kDav, u"principal")) props.IsPrincipal = true;
        xml.skipCurrentElement();
      }
    } else if (Is(xml, kDav, u"displayname")) {
      props.DisplayName = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
    } else if (Is(xml, kDav, u"getetag")) {
      props.ETag = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
    } else if (Is(xml, kDav, u"current-user-principal")) {
      props.CurrentUserPrincipal = FirstHref(xml);
    } else if (Is(xml, kCardDav, u"addressbook-home-set")) {
      props.AddressBookHomeSet = FirstHref(xml);
    } else {
      xml.skipCurrentElement();
    }
  }
}

// Reads one <propstat>; its properties count only with a 200 status.
void ReadPropstat(QXmlStreamReader& xml, TDavResponse& response) {
  TDavResponse props;
  bool ok = false;
  while (xml.readNextStartElement()) {
    if (Is(xml, kDav, u"prop")) {
      ReadProp(xml, props);
    } else if (Is(xml, kDav, u"status")) {
      const QString status = xml.readElementText(QXmlStreamReader::IncludeChildElements);
      ok = status.section(u' ', 1, 1, QString::SectionSkipEmpty) == u"200";
    } else {
      xml.skipCurrentElement();
    }
  }
  if (!ok) return;
  response.IsAddressBook = response.IsAddressBook || props.IsAddressBook;
  response.IsCollection = response.IsCollection || props.IsCollection;
  response.IsPrincipal = response.IsPrincipal || props.IsPrincipal;
  if (!props.DisplayName.isEmpty()) response.DisplayName = props.DisplayName;
  if (!props.ETag.isEmpty()) response.ETag = props.ETag;
  if (!props.CurrentUserPrincipal.isEmpty())
    response.CurrentUserPrincipal = props.CurrentUserPrincipal;
  if (!props.AddressBookHomeSet.isEmpty()) response.AddressBookHomeSet = props.AddressBookHomeSet;
}

}  // namespace

QByteArray DiscoveryPropfindBody() {
  return QByteArrayLiteral(
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<d:propfind xmlns:d=\"DAV:\" xmlns:card=\"urn:ietf:params:xml:ns:carddav\">"
      "<d:prop><d:resourcetype/><d:displayname/><d:getetag/><d:current-user-principal/>"
      "<card:addressbook-home-set/></d:prop></d:propfind>");
}

bool ParseMultistatus(const QByteArray& body, std::vector<TDavResponse>& out) {
  QXmlStreamReader xml(body);
  if (!xml.readNextStartElement() || !Is(xml, kDav, u"multistatus")) return false;
  while (xml.readNextStartElement()) {
    if (!Is(xml, kDav, u"response")) {
      xml.skipCurrentElement();
      continue;
    }
    TDavResponse response;
    while (xml.readNextStartElement()) {
      if (Is(xml, kDav, u"href")) {
        response.Href = xml.readElementText(QXmlStreamReader::IncludeChildElements).trimmed();
      } else if (Is(xml, kDav, u"propstat")) {
        ReadPropstat(xml, response);
      } else {
        xml.skipCurrentElement();
      }
    }
    out.push_back(response);
  }
  return !xml.hasError();
}

}  // namespace pv::carddav
