// The property grid: one row per option of a set (ID, value, level, category, description),
// of which only the value is edited; an edited value goes straight into its option.
#pragma once

#include <string>
#include <utility>

#include "options/AuthCfg.h"
#include "GridCtrl.h"

class AuthPropGrid : public CGridCtrl {
 public:
  AuthPropGrid() : CGridCtrl(0, 0, 0, 0) {}
  ~AuthPropGrid() override = default;

  // Keeps the set and fills the grid from it; always TRUE.
  BOOL SetOptions(CfgSet* options);
  // One row per shown option (RA, CS and CR have fields of their own in the dialog).
  void FillRows();
  // The row's Value cell and the option named by its Name cell (null when not in the set).
  std::pair<CGridCellBase*, AuthCfg::OptionThunkT*> GetRowOption(int row);

  // The end of an in-place edit, reflected by the owner: the Value text goes to the option.
  void OnEndLabelEdit(NMHDR* notify, LRESULT* result);

 protected:
  DECLARE_MESSAGE_MAP()

 private:
  CfgSet* options_ = nullptr;
};

// Each character's low 8 bits; "" for no text.
std::string NarrowText(const wchar_t* text);
