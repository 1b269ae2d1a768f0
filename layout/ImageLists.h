// Image lists loaded from the toolkit's module.
#pragma once

#include <vector>

#include "platform/controls/CommCtrl.h"
#include "platform/gdi/Gdi.h"

bool LoadImageList(plat::HIMAGELIST& list, plat::UINT bitmapId, int imageWidth, int growth, plat::COLORREF mask);
// The catalogue icon strip that suits the system's small-icon width.
bool LoadSmallIconImageList(plat::HIMAGELIST& list);
// Releases every list in index order and empties the array.
void DestroyImageLists(std::vector<plat::HIMAGELIST>& lists);
