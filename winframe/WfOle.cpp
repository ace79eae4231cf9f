#include "WfOle.h"

#include <shlobj.h>

#include <cstring>
#include <vector>

#include "WfWnd.h"

// ---- CSharedFile ----

CSharedFile::CSharedFile(UINT allocFlags, UINT growBytes) : flags_(allocFlags), grow_(growBytes ? growBytes : 4096) {}

CSharedFile::~CSharedFile() {
  if (block_) GlobalFree(block_);
}

BOOL CSharedFile::Write(const void* data, UINT count) {
  if (length_ + count > capacity_) {
    const UINT wanted = (length_ + count + grow_ - 1) / grow_ * grow_;
    HGLOBAL grown = block_ ? GlobalReAlloc(block_, wanted, flags_) : GlobalAlloc(flags_, wanted);
    if (!grown) return FALSE;
    block_ = grown;
    capacity_ = wanted;
  }
  auto* bytes = static_cast<char*>(GlobalLock(block_));
  if (!bytes) return FALSE;
  std::memcpy(bytes + length_, data, count);
  GlobalUnlock(block_);
  length_ += count;
  return TRUE;
}

HGLOBAL CSharedFile::Detach() {
  HGLOBAL block = block_;
  block_ = nullptr;
  capacity_ = length_ = 0;
  return block;
}

namespace {

HGLOBAL CopyBlock(HGLOBAL source) {
  const SIZE_T size = GlobalSize(source);
  HGLOBAL copy = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, size);
  if (!copy) return nullptr;
  const void* from = GlobalLock(source);
  void* to = GlobalLock(copy);
  if (from && to) std::memcpy(to, from, size);
  GlobalUnlock(copy);
  GlobalUnlock(source);
  if (!from || !to) {
    GlobalFree(copy);
    return nullptr;
  }
  return copy;
}

// Counts references for the COM objects below.
template <class Interface>
class ComObject : public Interface {
 public:
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (iid == IID_IUnknown || iid == __uuidof(Interface)) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  virtual ~ComObject() = default;

 private:
  ULONG references_ = 1;
};

class DropSource : public ComObject<IDropSource> {
 public:
  HRESULT STDMETHODCALLTYPE QueryContinueDrag(BOOL escape, DWORD keyState) override {
    if (escape) return DRAGDROP_S_CANCEL;
    if (!(keyState & (MK_LBUTTON | MK_RBUTTON))) return DRAGDROP_S_DROP;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GiveFeedback(DWORD) override { return DRAGDROP_S_USEDEFAULTCURSORS; }
};

IDataObject* g_clipboardSource = nullptr;

}  // namespace

// ---- COleDataSource ----

class COleDataSource::DataObject : public ComObject<IDataObject> {
 public:
  ~DataObject() override {
    for (const Entry& entry : entries_) GlobalFree(entry.block);
    if (g_clipboardSource == this) g_clipboardSource = nullptr;
  }

  void Cache(CLIPFORMAT format, HGLOBAL block) {
    for (Entry& entry : entries_)
      if (entry.format == format) {
        GlobalFree(entry.block);
        entry.block = block;
        return;
      }
    entries_.push_back({format, block});
  }

  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* format, STGMEDIUM* medium) override {
    const Entry* entry = Find(format);
    if (!entry) return DV_E_FORMATETC;
    HGLOBAL copy = CopyBlock(entry->block);
    if (!copy) return E_OUTOFMEMORY;
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = copy;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC* format) override {
    return Find(format) ? S_OK : DV_E_FORMATETC;
  }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC* out) override {
    out->ptd = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override {
    if (direction != DATADIR_GET) return E_NOTIMPL;
    std::vector<FORMATETC> list;
    for (const Entry& entry : entries_) list.push_back({entry.format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL});
    return SHCreateStdEnumFmtEtc(static_cast<UINT>(list.size()), list.data(), formats);
  }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return OLE_E_ADVISENOTSUPPORTED;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

 private:
  struct Entry {
    CLIPFORMAT format;
    HGLOBAL block;
  };
  const Entry* Find(const FORMATETC* format) const {
    if (!format || !(format->tymed & TYMED_HGLOBAL) || format->dwAspect != DVASPECT_CONTENT) return nullptr;
    for (const Entry& entry : entries_)
      if (entry.format == format->cfFormat) return &entry;
    return nullptr;
  }
  std::vector<Entry> entries_;
};

COleDataSource::COleDataSource() : object_(new DataObject) {}

COleDataSource::~COleDataSource() { object_->Release(); }

void COleDataSource::CacheGlobalData(CLIPFORMAT format, HGLOBAL block) { object_->Cache(format, block); }

IDataObject* COleDataSource::GetInterface() const { return object_; }

BOOL COleDataSource::SetClipboard() {
  if (FAILED(OleSetClipboard(object_))) return FALSE;
  g_clipboardSource = object_;
  return TRUE;
}

DROPEFFECT COleDataSource::DoDragDrop(DROPEFFECT allowed) {
  auto* source = new DropSource;
  DWORD effect = DROPEFFECT_NONE;
  const HRESULT result = ::DoDragDrop(object_, source, allowed, &effect);
  source->Release();
  return result == DRAGDROP_S_DROP ? effect : DROPEFFECT_NONE;
}

BOOL COleDataSource::IsClipboardOwner() {
  return g_clipboardSource && OleIsCurrentClipboard(g_clipboardSource) == S_OK;
}

void COleDataSource::FlushClipboard() {
  if (IsClipboardOwner()) OleFlushClipboard();
}

// ---- COleDataObject ----

BOOL COleDataObject::AttachClipboard() {
  Release();
  IDataObject* object = nullptr;
  if (FAILED(OleGetClipboard(&object))) return FALSE;
  Attach(object, TRUE);
  return TRUE;
}

void COleDataObject::Attach(IDataObject* object, BOOL autoRelease) {
  Release();
  object_ = object;
  autoRelease_ = autoRelease;
}

void COleDataObject::Release() {
  if (object_ && autoRelease_) object_->Release();
  object_ = nullptr;
}

BOOL COleDataObject::IsDataAvailable(CLIPFORMAT format) const {
  FORMATETC query{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  return object_ && object_->QueryGetData(&query) == S_OK;
}

HGLOBAL COleDataObject::GetGlobalData(CLIPFORMAT format) const {
  if (!object_) return nullptr;
  FORMATETC query{format, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (FAILED(object_->GetData(&query, &medium))) return nullptr;
  HGLOBAL copy = medium.tymed == TYMED_HGLOBAL ? CopyBlock(medium.hGlobal) : nullptr;
  ReleaseStgMedium(&medium);
  return copy;
}

// ---- COleDropTarget ----

class COleDropTarget::DropTarget : public ComObject<IDropTarget> {
 public:
  explicit DropTarget(COleDropTarget* owner) : owner_(owner) {}
  void Forget() { owner_ = nullptr; }

  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* object, DWORD keyState, POINTL point, DWORD* effect) override {
    data_.Attach(object, FALSE);
    if (object) object->AddRef();
    held_ = object;
    *effect = owner_ ? owner_->OnDragEnter(Window(), &data_, keyState, ClientPoint(point)) : DROPEFFECT_NONE;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DragOver(DWORD keyState, POINTL point, DWORD* effect) override {
    if (!owner_) {
      *effect = DROPEFFECT_NONE;
      return S_OK;
    }
    const CPoint client = ClientPoint(point);
    const DROPEFFECT scroll = owner_->OnDragScroll(Window(), keyState, client);
    *effect = (scroll & DROPEFFECT_SCROLL) ? scroll : owner_->OnDragOver(Window(), &data_, keyState, client);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE DragLeave() override {
    if (owner_) owner_->OnDragLeave(Window());
    ReleaseData();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Drop(IDataObject* object, DWORD keyState, POINTL point, DWORD* effect) override {
    if (object != held_) data_.Attach(object, FALSE);
    const CPoint client = ClientPoint(point);
    DROPEFFECT wanted = owner_ ? owner_->OnDragOver(Window(), &data_, keyState, client) : DROPEFFECT_NONE;
    if (wanted != DROPEFFECT_NONE && !owner_->OnDrop(Window(), &data_, wanted, client)) wanted = DROPEFFECT_NONE;
    *effect = wanted;
    ReleaseData();
    return S_OK;
  }

 private:
  CWnd* Window() const { return owner_ ? CWnd::FromHandle(owner_->m_hWnd) : nullptr; }
  CPoint ClientPoint(POINTL point) const {
    POINT client{point.x, point.y};
    if (owner_) ScreenToClient(owner_->m_hWnd, &client);
    return CPoint(client);
  }
  void ReleaseData() {
    data_.Release();
    if (held_) held_->Release();
    held_ = nullptr;
  }

  COleDropTarget* owner_;
  COleDataObject data_;
  IDataObject* held_ = nullptr;
};

COleDropTarget::COleDropTarget() : target_(new DropTarget(this)) {}

COleDropTarget::~COleDropTarget() {
  Revoke();
  target_->Forget();
  target_->Release();
}

BOOL COleDropTarget::Register(CWnd* wnd) {
  if (!wnd || !wnd->GetSafeHwnd()) return FALSE;
  if (FAILED(RegisterDragDrop(wnd->GetSafeHwnd(), target_))) return FALSE;
  m_hWnd = wnd->GetSafeHwnd();
  return TRUE;
}

void COleDropTarget::Revoke() {
  if (!m_hWnd) return;
  RevokeDragDrop(m_hWnd);
  m_hWnd = nullptr;
}

DROPEFFECT COleDropTarget::OnDragEnter(CWnd*, COleDataObject*, DWORD, CPoint) { return DROPEFFECT_NONE; }
DROPEFFECT COleDropTarget::OnDragOver(CWnd*, COleDataObject*, DWORD, CPoint) { return DROPEFFECT_NONE; }
BOOL COleDropTarget::OnDrop(CWnd*, COleDataObject*, DROPEFFECT, CPoint) { return FALSE; }
void COleDropTarget::OnDragLeave(CWnd*) {}
DROPEFFECT COleDropTarget::OnDragScroll(CWnd*, DWORD, CPoint) { return DROPEFFECT_NONE; }
