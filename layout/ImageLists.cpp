#include "layout/ImageLists.h"

#include "layout/UiKitModule.h"
#include "platform/resources/Resources.h"
#include "platform/windows/SystemMetrics.h"

bool LoadImageList(plat::HIMAGELIST& list, plat::UINT bitmapId, int imageWidth, int growth, plat::COLORREF mask) {
  list = plat::ImageList_LoadImage(GetUiKitModule(), plat::MAKEINTRESOURCEW(bitmapId), imageWidth, growth, mask, 0, 0);
  return list != nullptr;
}

bool LoadSmallIconImageList(plat::HIMAGELIST& list) {
  const int small = plat::GetSystemMetrics(plat::SM_CXSMICON);
  plat::UINT id = 166;
  int width = 16;
  if (small >= 32) {
    id = 167;
    width = 32;
  } else if (small >= 22) {
    id = 179;
    width = 22;
  } else if (small == 21) {
    id = 181;
    width = 21;
  }
  return LoadImageList(list, id, width, 0, plat::CLR_NONE);
}

void DestroyImageLists(std::vector<plat::HIMAGELIST>& lists) {
  for (plat::HIMAGELIST list : lists)
    if (list) plat::ImageList_Destroy(list);
  lists.clear();
  lists.shrink_to_fit();
}
