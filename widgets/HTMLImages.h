// Picture sources of the mini-HTML label: an image list (pictures by number), a picture container
// (pictures by name) and the cache of pictures named by an address.
#pragma once

#include <QObject>
#include <QPixmap>
#include <map>
#include <string>
#include <vector>

namespace pv {

// Pictures by index, for "IDX:" image sources. A label that uses the list forgets it when the
// list is destroyed.
class THTMLImageList : public QObject {
 public:
  explicit THTMLImageList(QObject* parent = nullptr) : QObject(parent) {}

  // Appends a picture and returns its index.
  int Add(const QPixmap& picture);
  int Count() const { return static_cast<int>(FPictures.size()); }
  // The picture at index; a null pixmap when index is out of range.
  QPixmap Picture(int index) const;

 private:
  std::vector<QPixmap> FPictures;
};

// Pictures by name, for image sources without ':' and for the body background. Names compare
// without regard to letter case (Windows-1252). A label that uses the container forgets it when
// the container is destroyed.
class THTMLPictureContainer : public QObject {
 public:
  explicit THTMLPictureContainer(QObject* parent = nullptr) : QObject(parent) {}

  // Adds or replaces the picture of that name.
  void Add(const std::string& name, const QPixmap& picture);
  // The picture of that name; a null pixmap when there is none.
  QPixmap Find(const std::string& name) const;

 private:
  std::map<std::string, QPixmap> FPictures;  // by upper-cased name
};

// Pictures named by an address ("RES://name" from the program's Qt resources, "FILE://path" from
// a file), loaded once and kept. Addresses of other kinds are not fetched: they give a null
// pixmap, so such an image takes no room. Window thread only.
class THTMLPictureCache {
 public:
  // The picture for address (compared as given); a null pixmap when it cannot be loaded.
  QPixmap Picture(const std::string& address);
  void Clear() { FPictures.clear(); }

 private:
  std::map<std::string, QPixmap> FPictures;  // failures are kept as null pixmaps too
};

}  // namespace pv
