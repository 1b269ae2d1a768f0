// Process-wide caches of icon handles: icons among the program's resources
// (by id and size) and icons of ".ico" files (by path and size), each loaded
// once and kept until the cache is cleared.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/Synchronized.h"
#include "platform/base/Module.h"
#include "platform/gdi/Gdi.h"

class CBitmapBuffer;

class CResourceIconsManager : public CSynchronized {
 public:
  CResourceIconsManager() = default;
  ~CResourceIconsManager() override;

  static CResourceIconsManager& GetInstance();

  void SetModule(plat::HINSTANCE module);
  // The icon of the resource at size x size, loaded on first use; null
  // without a module or when the resource has no icon.
  plat::HICON GetIcon(int resourceId, int size);
  // The largest of the sizes (ascending) not above wanted; wanted itself
  // when every size is larger.
  static int GetIconForSize(int resourceId, int wanted, const std::vector<int>& sizes);
  // Draws the icon for the rectangle's width stretched into it, dimmed when
  // asked; false when there is no icon.
  bool DrawIcon(CBitmapBuffer& buffer, const plat::RECT& r, int resourceId, const std::vector<int>& sizes,
                bool dim);
  // Destroys every cached icon.
  void Clear();

  // Icons loaded from the module so far (each load once).
  int LoadCount() const { return loads_; }

 private:
  plat::HINSTANCE module_ = nullptr;
  std::unordered_map<int, std::unordered_map<int, plat::HICON>> icons_;
  int loads_ = 0;
};

// An ".ico" file read whole, every size and offset checked against it.
class CIconFile {
 public:
  struct Image {
    int width = 0;
    int height = 0;
    int bitDepth = 0;
    int colors = 0;            // entries of the colour table
    const std::uint8_t* header = nullptr;  // the BITMAPINFOHEADER
    const std::uint8_t* colorTable = nullptr;
    const std::uint8_t* colorBits = nullptr;
    const std::uint8_t* maskBits = nullptr;
  };

  CIconFile() = default;
  ~CIconFile() = default;
  CIconFile(const CIconFile&) = delete;
  CIconFile& operator=(const CIconFile&) = delete;

  // Reads a device file; false (and nothing kept) when it cannot be read or
  // any of its images lies outside it or is malformed.
  bool Open(const std::u16string& path);
  // The same over bytes in memory (copied).
  bool OpenData(const void* data, std::size_t size);
  void Close();

  std::size_t ImageCount() const { return images_.size(); }
  const Image& GetImage(std::size_t i) const { return images_[i]; }

  // Index of the image chosen for w x h, or -1: exact size (deepest first),
  // else the widest smaller, else the narrowest larger.
  int ChooseImage(int w, int h) const;
  // An icon of the chosen image: scaled to w x h when it is larger, else at
  // its own size; *outW / *outH the size obtained. Null when none fits.
  plat::HICON MakeIcon(int w, int h, int* outW, int* outH) const;

 private:
  bool Parse();

  std::vector<std::uint8_t> data_;
  std::vector<Image> images_;
};

class CFileIconsManager : public CSynchronized {
 public:
  CFileIconsManager() = default;
  ~CFileIconsManager() override;

  // The icon of the file for *size (set to the width obtained); null when
  // the file cannot be read or has no usable image.
  plat::HICON GetIcon(const std::u16string& path, int* size);
  void Clear();

  int FileReads() const { return reads_; }

 private:
  struct Entry {
    plat::HICON icon = nullptr;
    int width = 0;
    int height = 0;
  };
  std::map<std::u16string, std::map<int, Entry>> icons_;
  int reads_ = 0;
};

CFileIconsManager& GetFileIconsManager();
