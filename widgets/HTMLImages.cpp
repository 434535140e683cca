#include "widgets/HTMLImages.h"

#include "files/AnsiText.h"
#include "widgets/AnsiQt.h"

namespace pv {

int THTMLImageList::Add(const QPixmap& picture) {
  FPictures.push_back(picture);
  return Count() - 1;
}

QPixmap THTMLImageList::Picture(int index) const {
  if (index < 0 || index >= Count()) return {};
  return FPictures[static_cast<std::size_t>(index)];
}

void THTMLPictureContainer::Add(const std::string& name, const QPixmap& picture) {
  FPictures[AnsiUpperCase(name)] = picture;
}

QPixmap THTMLPictureContainer::Find(const std::string& name) const {
  const auto it = FPictures.find(AnsiUpperCase(name));
  return it == FPictures.end() ? QPixmap() : it->second;
}

QPixmap THTMLPictureCache::Picture(const std::string& address) {
  const auto it = FPictures.find(address);
  if (it != FPictures.end()) return it->second;
  const std::string upper = AnsiUpperCase(address);
  QPixmap picture;
  if (upper.starts_with("RES://")) {
    picture.load(QStringLiteral(":/") + AnsiToQString(address.substr(6)));
  } else if (upper.starts_with("FILE://")) {
    picture.load(AnsiToQString(address.substr(7)));
  }
  FPictures.emplace(address, picture);
  return picture;
}

}  // namespace pv
