// Data transfer over OLE: the clipboard and drag and drop, as the grid uses them.
//   CSharedFile     a growing memory file in a global memory block: Write, GetLength,
//                   Detach (hands the block over, the file is empty again)
//   COleDataSource  offers global memory blocks by clipboard format: CacheGlobalData,
//                   SetClipboard, DoDragDrop; static FlushClipboard (when a source of this
//                   program owns the clipboard) and IsClipboardOwner. The object that OLE
//                   holds lives on while the clipboard or a drag needs it.
//   COleDataObject  reads what another party offers: AttachClipboard, Attach (an
//                   IDataObject), IsDataAvailable, GetGlobalData (a copy the caller frees)
//   COleDropTarget  a window's drop target: Register, Revoke, and the virtual
//                   OnDragEnter / OnDragOver / OnDragLeave / OnDrop / OnDragScroll, with
//                   points in the window's client coordinates
#pragma once

#include <windows.h>

#include <ole2.h>

#include "WfGeometry.h"
#include "WfObject.h"

class CWnd;

// The effects of a drop (DROPEFFECT_ values).
using DROPEFFECT = DWORD;

class CSharedFile {
 public:
  explicit CSharedFile(UINT allocFlags = GMEM_MOVEABLE | GMEM_SHARE | GMEM_ZEROINIT, UINT growBytes = 4096);
  ~CSharedFile();
  CSharedFile(const CSharedFile&) = delete;
  CSharedFile& operator=(const CSharedFile&) = delete;

  // FALSE when memory runs out (what was written stays).
  BOOL Write(const void* data, UINT count);
  UINT GetLength() const { return length_; }
  HGLOBAL Detach();

 private:
  UINT flags_;
  UINT grow_;
  HGLOBAL block_ = nullptr;
  UINT capacity_ = 0;
  UINT length_ = 0;
};

class COleDataSource {
 public:
  COleDataSource();
  ~COleDataSource();
  COleDataSource(const COleDataSource&) = delete;
  COleDataSource& operator=(const COleDataSource&) = delete;

  // Takes over the block.
  void CacheGlobalData(CLIPFORMAT format, HGLOBAL block);
  BOOL SetClipboard();
  DROPEFFECT DoDragDrop(DROPEFFECT allowed = DROPEFFECT_COPY | DROPEFFECT_MOVE);
  IDataObject* GetInterface() const;

  static BOOL IsClipboardOwner();
  static void FlushClipboard();

 private:
  class DataObject;
  DataObject* object_;
};

class COleDataObject {
 public:
  COleDataObject() = default;
  ~COleDataObject() { Release(); }
  COleDataObject(const COleDataObject&) = delete;
  COleDataObject& operator=(const COleDataObject&) = delete;

  BOOL AttachClipboard();
  void Attach(IDataObject* object, BOOL autoRelease = TRUE);
  void Release();
  BOOL IsDataAvailable(CLIPFORMAT format) const;
  // A copy of the data in a new global block, or null.
  HGLOBAL GetGlobalData(CLIPFORMAT format) const;

 private:
  IDataObject* object_ = nullptr;
  BOOL autoRelease_ = FALSE;
};

class COleDropTarget : public CObject {
 public:
  COleDropTarget();
  ~COleDropTarget() override;
  COleDropTarget(const COleDropTarget&) = delete;
  COleDropTarget& operator=(const COleDropTarget&) = delete;

  virtual BOOL Register(CWnd* wnd);
  virtual void Revoke();
  virtual DROPEFFECT OnDragEnter(CWnd* wnd, COleDataObject* data, DWORD keyState, CPoint point);
  virtual DROPEFFECT OnDragOver(CWnd* wnd, COleDataObject* data, DWORD keyState, CPoint point);
  virtual BOOL OnDrop(CWnd* wnd, COleDataObject* data, DROPEFFECT effect, CPoint point);
  virtual void OnDragLeave(CWnd* wnd);
  virtual DROPEFFECT OnDragScroll(CWnd* wnd, DWORD keyState, CPoint point);

 protected:
  HWND m_hWnd = nullptr;

 private:
  class DropTarget;
  DropTarget* target_;
};
