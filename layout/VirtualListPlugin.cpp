#include "layout/VirtualListPlugin.h"

#include <cstdlib>

#include "core/OrvException.h"
#include "layout/DataSources.h"
#include "layout/DialogContent.h"
#include "layout/LayoutCom.h"
#include "layout/LayoutPackage.h"
#include "layout/LayoutServices.h"
#include "layout/ScreenScale.h"
#include "platform/controls/Shell.h"

using plat::E_FAIL;
using plat::HRESULT;
using plat::S_FALSE;
using plat::S_OK;

int FillRectAlphaGradient(CBitmapBuffer& target, int x, int y, int width, int height, plat::COLORREF colour,
                          int alphaFrom, int alphaTo, bool vertical) {
  // Only a 16-bit target can be drawn into: anything else draws nothing.
  if (target.GetBitsPerPixel() != 16 || !target.GetBits()) return 0;
  // Clip: a negative start shortens the rectangle by as much.
  if (x < 0) {
    width += x;
    x = 0;
  }
  if (y < 0) {
    height += y;
    y = 0;
  }
  if (x + width > target.GetWidth()) width = target.GetWidth() - x;
  if (y + height > target.GetHeight()) height = target.GetHeight() - y;
  if (width <= 0 || height <= 0) return 1;
  const std::uint16_t pixel = ColorToRgb565(colour);
  const int n = vertical ? height : width;
  const int step = (alphaTo - alphaFrom) * 16 / n;
  const int lines = vertical ? width : height;
  for (int line = 0; line < lines; ++line) {
    int accumulator = alphaFrom * 16;
    for (int i = 0; i < n; ++i) {
      accumulator += step;
      const int alpha = accumulator >> 4;
      if (accumulator <= 0 || alpha == 0) continue;
      const int px = vertical ? x + line : x + i;
      const int py = vertical ? y + i : y + line;
      auto* p = reinterpret_cast<std::uint16_t*>(target.Row(py)) + px;
      if (alpha >= 255) {
        *p = pixel;
      } else {
        BlendPixel565(*p, pixel, alpha);
      }
    }
  }
  return 1;
}

void DrawRowSeparator(CBitmapBuffer& target, const plat::RECT& row) {
  const int d = (GetScreenDpiX() + 48) / 96;
  const int y = row.bottom - 2 * d;
  if (y + 2 * d <= 0 || y >= target.GetHeight() || row.right <= row.left) return;
  const int middle = (row.left + row.right) / 2;
  const plat::COLORREF colours[2] = {0x000000, 0xFFFFFF};
  for (int line = 0; line < 2; ++line) {
    const int top = y + line * d;
    target.FillRectAlpha(row.left, top, middle - row.left, d, colours[line], 130);
    FillRectAlphaGradient(target, middle, top, row.right - middle, d, colours[line], 130, 0, false);
  }
}

VirtualListPlugin::~VirtualListPlugin() {
  if (list_) list_->Release();
}

HRESULT VirtualListPlugin::Init(IPluginSite* site, IDialogContent* content) {
  HRESULT hr = LayoutListPluginBase::Init(site, content);
  if (hr != S_OK) return hr;
  if (!content) return E_FAIL;
  IDataSource* source = nullptr;
  hr = content->QueryOwner(IID_IDataSource, reinterpret_cast<void**>(&source));
  if (hr != S_OK) return hr;
  if (!source) return E_FAIL;
  IVirtualList* list = nullptr;
  hr = source->QueryService(IID_IVirtualList, reinterpret_cast<void**>(&list));
  source->Release();
  if (hr != S_OK) return hr;
  if (!list) return E_FAIL;
  if (list_) list_->Release();
  list_ = list;
  return S_OK;
}

HRESULT VirtualListPlugin::LoadProperties() {
  HRESULT hr = LayoutListPluginBase::LoadProperties();
  if (hr != S_OK) return hr;
  if (list_) {
    CRefPtr<PackageResources> package;
    if (CRefPtr<IResourcePackageProviderService> packages = GetResourcePackageProvider())
      package = packages->GetPackage(GetSkinName());
    list_->LoadProperties(this, GetItem(), package.Get());
  }
  Reload(true);
  if (IDialogContent* content = GetContent()) {
    std::u16string name;
    if (GetItem() && GetItem()->GetName(&name) == S_OK) content->SelectByName(name.c_str());
  }
  ensureVisible_ = true;
  return S_OK;
}

void VirtualListPlugin::Reload(bool select) {
  SetItemCount(list_ ? list_->GetRowCount() : 0);
  if (select && list_) SetSelection(list_->GetInitialSelection());
  if (IPluginSite* site = GetSite()) site->Invalidate(false);
}

std::int32_t VirtualListPlugin::GetItemHeight(std::int32_t index, std::int32_t width) {
  return (list_ ? list_->GetRowHeight(index, width) : 0) + SeparatorAllowance();
}

HRESULT VirtualListPlugin::PaintItem(std::int32_t index, CBitmapBuffer& target, plat::HDC, std::int32_t state,
                                     const plat::RECT& rect) {
  if (list_ && list_->PaintRow(index, target, state, rect) != 0) DrawRowSeparator(target, rect);
  return S_OK;
}

HRESULT VirtualListPlugin::SetSelection(std::int32_t index) {
  const HRESULT hr = LayoutListPluginBase::SetSelection(index);
  if (list_) list_->OnSelectionChanged(index);
  return hr;
}

HRESULT VirtualListPlugin::OnItemActivated(const plat::POINT*, std::intptr_t) {
  if (list_) list_->Activate(GetSelection(), nullptr);
  return S_OK;
}

HRESULT VirtualListPlugin::OnTap(const plat::POINT* point) {
  const std::int32_t row = GetSelection();
  if (row < 0 || row >= GetItemCount() || !list_) return E_FAIL;
  list_->Activate(row, point);
  return S_OK;
}

plat::HWND VirtualListPlugin::HostWindow() {
  if (hostWindow_) return hostWindow_;
  plat::HWND window = nullptr;
  if (IPluginSite* site = GetSite()) site->GetWindow(&window);
  return window;
}

HRESULT VirtualListPlugin::ReservedB(const plat::POINT* point, std::int32_t flag) {
  if (point) {
    const std::int32_t row = HitTest(point->y);
    if (row < 0) return E_FAIL;
    SetSelection(row);
  }
  if (flag != 0 || !list_) return S_OK;
  plat::POINT at{};
  if (point) {
    at = *point;
  } else {
    plat::RECT r{};
    if (GetRect(0, 0, &r, nullptr, nullptr) != S_OK) return S_OK;
    at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
  }
  if (IDialogContent* content = GetContent()) content->ContentToWindow(&at);
  const plat::HWND window = HostWindow();
  std::uint32_t answer = 0;
  if (recognizer_) {
    answer = recognizer_(window, at);
  } else {
    plat::SHRGINFO request{sizeof(plat::SHRGINFO), window, at, plat::SHRG_RETURNCMD};
    answer = plat::SHRecognizeGesture(&request);
  }
  if (answer != plat::GN_CONTEXTMENU) return S_OK;
  if (window) plat::ClientToScreen(window, &at);
  list_->OnContextGesture(GetSelection(), at.x, at.y);
  return 1;
}

HRESULT VirtualListPlugin::ReservedC(std::int32_t event, std::intptr_t parameter, void* record) {
  if (event == kUpdateProgressEvent && parameter == kUpdateProgressParameter) {
    if (refreshPending_) {
      refreshPending_ = false;
      DoCommand(0, 0);
    }
    return S_OK;
  }
  if (event == kContentEventDrag && record) {
    auto& g = *static_cast<GestureRecord*>(record);
    const int dx = g.currentX - g.downX;
    const int dy = g.currentY - g.downY;
    if (std::abs(dx) > std::abs(dy) && std::abs(dx) > (GetScreenDpiY() * 25 + 48) / 96) {
      g.stop = 1;
      if (dx > 0) {
        if (plat::HWND window = GetWindow()) {
          plat::PostMessageW(plat::GetParent(window), plat::WM_COMMAND, kBackCommand, 0);
        }
        return S_OK;
      }
    }
  }
  return S_FALSE;
}

HRESULT VirtualListPlugin::DoCommand(std::intptr_t, std::intptr_t) {
  refreshPending_ = false;
  Reload(false);
  return S_OK;
}

HRESULT VirtualListPlugin::ForwardToList(std::intptr_t a, std::intptr_t b) {
  return list_ ? list_->Forward(a, b) : E_FAIL;
}

HRESULT VirtualListPlugin::GetContentSize(plat::HDC dc, plat::SIZE* size) {
  const HRESULT hr = LayoutListPluginBase::GetContentSize(dc, size);
  if (ensureVisible_) {
    plat::RECT client{};
    const plat::HWND window = HostWindow();
    if (window && plat::GetClientRect(window, &client) && client.bottom - client.top > 0) {
      ensureVisible_ = false;
      const std::int32_t row = GetSelection();
      plat::RECT r{};
      if (row >= 0 && row < GetItemCount() && GetItemRect(row, r) == S_OK && GetContent()) {
        const HRESULT shown = GetContent()->EnsureVisible(&r);
        if (shown != S_OK && shown != S_FALSE) ThrowLayout(shown);
      }
    }
  }
  return hr;
}
