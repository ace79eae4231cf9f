#include "MemDC.h"

CMemDC::CMemDC(CDC* target) : target_(target), offScreen_(!target->IsPrinting()) {
  if (!offScreen_) {
    AttachTemporary(target->m_hDC);
    m_hAttribDC = target->m_hAttribDC;
    m_bPrinting = target->m_bPrinting;
    return;
  }
  target->GetClipBox(&rect_);
  CreateCompatibleDC(target);
  bitmap_.CreateCompatibleBitmap(target, rect_.Width(), rect_.Height());
  oldBitmap_ = SelectObject(&bitmap_);
  SetWindowOrg(rect_.left, rect_.top);
  FillSolidRect(rect_, target->GetBkColor());
}

CMemDC::~CMemDC() {
  if (!offScreen_) return;
  target_->BitBlt(rect_.left, rect_.top, rect_.Width(), rect_.Height(), this, rect_.left, rect_.top, SRCCOPY);
  if (oldBitmap_) SelectObject(oldBitmap_);
}
