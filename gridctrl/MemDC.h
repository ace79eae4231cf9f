#pragma once
// An off-screen device context over a target DC: drawing goes into a bitmap the
// size of the target's clip box, copied onto the target when the object ends.
// A printer target is drawn into directly.

#include "WfGdi.h"

class CMemDC : public CDC {
 public:
  explicit CMemDC(CDC* target);
  ~CMemDC() override;
  CMemDC(const CMemDC&) = delete;
  CMemDC& operator=(const CMemDC&) = delete;

 private:
  CBitmap bitmap_;
  CBitmap* oldBitmap_ = nullptr;
  CDC* target_;
  CRect rect_;
  BOOL offScreen_;
};
