#include "dialogs/AuthPropGrid.h"

#include <cstring>
#include <memory>

#include "WinSupport.h"  // Narrow, Widen
#include "options/CfgText.h"

namespace {
struct Column {
  const char* caption;
  bool readOnly;
  int width;
};
constexpr Column kColumns[] = {
    {"Name", true, 45}, {"Value", false, 130}, {"Class", true, 70}, {"Category", true, 140}, {"Description", true, 2000},
};
constexpr int kNameColumn = 0;
constexpr int kValueColumn = 1;

bool HasOwnField(const AuthCfg::OptionThunkT& option) {
  return strcmp(option.id, "RA") == 0 || strcmp(option.id, "CS") == 0 || strcmp(option.id, "CR") == 0;
}
}  // namespace

BEGIN_MESSAGE_MAP(AuthPropGrid, CGridCtrl)
  ON_NOTIFY_REFLECT(GridCode::EndEdit, OnEndLabelEdit)
END_MESSAGE_MAP()

std::string NarrowText(const wchar_t* text) { return text ? Narrow(text) : std::string(); }

BOOL AuthPropGrid::SetOptions(CfgSet* options) {
  options_ = options;
  DeleteAllItems();
  SetRowCount(1);
  SetEditable(TRUE);
  SetFixedRowCount(1);
  SetColumnCount(static_cast<int>(std::size(kColumns)));
  for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
    SetItemText(0, column, kColumns[column].caption);
    SetColumnWidth(column, kColumns[column].width);
  }
  FillRows();
  return TRUE;
}

void AuthPropGrid::FillRows() {
  if (!options_) return;
  const COLORREF readOnlyBack = GetSysColor(COLOR_INACTIVEBORDER);
  int row = 1;
  for (const auto& option : *options_) {
    if (HasOwnField(*option)) continue;
    SetRowCount(row + 1);
    const std::string texts[] = {
        option->id,
        Narrow(option->ToText()),
        option->level != 0 ? "Advanced" : "Basic",
        NarrowText(CategoryName(option->category)),
        NarrowText(option->description),
    };
    for (int column = 0; column < static_cast<int>(std::size(kColumns)); ++column) {
      CGridCellBase* cell = GetCell(row, column);
      if (!cell) continue;
      if (kColumns[column].readOnly) {
        cell->SetState(cell->GetState() | GridState::ReadOnly);
        cell->SetBackColour(readOnlyBack);
      }
      cell->SetText(texts[column].c_str());
    }
    ++row;
  }
}

std::pair<CGridCellBase*, AuthCfg::OptionThunkT*> AuthPropGrid::GetRowOption(int row) {
  const CString name = GetItemText(row, kNameColumn);
  AuthCfg::OptionThunkT* option = nullptr;
  if (options_ && name.GetLength() >= 2) option = options_->Find(static_cast<const char*>(name));
  return {GetCell(row, kValueColumn), option};
}

void AuthPropGrid::OnEndLabelEdit(NMHDR* notify, LRESULT* result) {
  *result = 0;
  const int row = reinterpret_cast<const GridNotify*>(notify)->row;
  auto [cell, option] = GetRowOption(row);
  if (!cell || !option) return;
  const std::string text = cell->GetText() ? cell->GetText() : "";
  // A refused value: the grid puts the old text back. The configuration language cannot hold
  // "]"; and the value is checked as it will be written, so a number that is too long for the
  // agents or not finite is refused too.
  std::string problem;
  if (text.find(']') != std::string::npos) {
    problem = "The character ']' cannot be used in an option value.";
  } else {
    const std::unique_ptr<AuthCfg::OptionThunkT> trial = option->Clone();
    problem = trial->SetFromText(Widen(text), AuthCfg::kEditor)
                  ? WritableValueProblem(*trial)
                  : "Value of option '" + std::string(option->id) + "' is not a finite number";
    if (!problem.empty()) problem += ".";
  }
  if (!problem.empty()) {
    MessageBox(problem.c_str(), nullptr, MB_OK | MB_ICONEXCLAMATION);
    *result = -1;
    return;
  }
  option->SetFromText(Widen(text), AuthCfg::kEditor);
}
