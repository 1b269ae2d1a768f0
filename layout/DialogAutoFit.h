// Lays the controls of a page out in rows that fit the screen's width and
// DPI instead of the fixed positions of its dialog template: top rows from
// the top down, bottom rows from the bottom up, fill rows sharing what is
// left. Heights come from a row's height provider or from rules by class.
#pragma once

#include <vector>

#include "platform/windows/Windows.h"

class IRowHeightProvider {
 public:
  virtual ~IRowHeightProvider() = default;
  // A height for the width; > 0 overrides the class rules.
  virtual int GetHeight(plat::HWND control, int width) = 0;
  // May place the row itself in the area; true when it did.
  virtual bool PlaceRow(plat::HWND, const plat::RECT&) { return false; }
};

class DialogAutoFit {
 public:
  enum Anchor { kTop = 0, kFill = 1, kBottom = 2 };
  struct Row {
    plat::HWND control = nullptr;
    plat::HWND buddy = nullptr;  // placed at the control's right
    int anchor = kTop;
    bool visible = true;
    IRowHeightProvider* provider = nullptr;
    int leftIndent = 0;
    int spaceAbove = 0;
    int rightIndent = 0;
    int spaceBelow = 0;
  };

  DialogAutoFit(plat::HWND dialog, bool gap, bool titleHeader, bool margins)
      : dialog_(dialog), gap_(gap), titleHeader_(titleHeader), margins_(margins) {}

  void AddRow(const Row& row);
  void AddRow(plat::HWND control, int anchor = kTop, plat::HWND buddy = nullptr);
  // Places the visible rows, hides the others at (-1000, -1000).
  void Layout();
  // Each row becomes visible exactly when its control is in the list.
  void SetVisibleControls(const std::vector<plat::HWND>& controls);
  // False when the control has no row.
  bool SetControlAnchor(plat::HWND control, int anchor);
  // The gap and margins switches, for dialogs whose pages differ in them.
  void SetSwitches(bool gap, bool margins) {
    gap_ = gap;
    margins_ = margins;
  }
  bool SetControlSpacing(plat::HWND control, int leftIndent, int spaceAbove, int rightIndent, int spaceBelow);
  // Gives the control's row a height provider (null: the class rules);
  // false when the control has no row.
  bool SetRowProvider(plat::HWND control, IRowHeightProvider* provider);
  // Places buddy at the right of the control's row (a row of its own that
  // buddy had goes); false when the control has no row.
  bool SetRowBuddy(plat::HWND control, plat::HWND buddy);
  // left and right (dpiX + 12) * 4 / 96, top (dpiY + 4) * 4 / 96, bottom 0.
  void GetMargins(plat::RECT& margins) const;
  // The gap kept around rows: (dpiY + 12) * 4 / 96 with the gap flag, else 0.
  int GetGap() const;
  // The height the class rules give the control at that width.
  static int ClassHeight(plat::HWND control, int width);

 private:
  int RowHeight(const Row& row, int width) const;
  // Places the row at y (top) or ending at y (bottom); its real height.
  int Place(const Row& row, const plat::RECT& area, int y, int height);

  plat::HWND dialog_;
  bool gap_;
  bool titleHeader_;
  bool margins_;
  std::vector<Row> rows_;  // top and fill rows, then bottom rows, in the order added
};
