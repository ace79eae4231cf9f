#pragma once
// Scoped holders for the device-context states the grid borrows while it draws
// and measures.

#include "WfGdi.h"

// Selects a pen, brush, font or bitmap into a DC and puts the previous one back;
// a null object selects nothing.
template <class Object>
class DCSelection {
 public:
  DCSelection(CDC* dc, Object* object) : dc_(dc), old_(dc && object && object->GetSafeHandle() ? dc->SelectObject(object) : nullptr) {}
  ~DCSelection() {
    if (old_) dc_->SelectObject(old_);
  }
  DCSelection(const DCSelection&) = delete;
  DCSelection& operator=(const DCSelection&) = delete;

 private:
  CDC* dc_;
  Object* old_;
};

// Saves the DC's state and restores it on scope exit.
class SavedDCState {
 public:
  explicit SavedDCState(CDC* dc) : dc_(dc), saved_(dc->SaveDC()) {}
  ~SavedDCState() {
    if (saved_) dc_->RestoreDC(saved_);
  }
  SavedDCState(const SavedDCState&) = delete;
  SavedDCState& operator=(const SavedDCState&) = delete;

 private:
  CDC* dc_;
  int saved_;
};
