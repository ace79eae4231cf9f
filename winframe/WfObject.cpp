#include "WfObject.h"

CObject* CRuntimeClass::CreateObject() const {
  return m_pfnCreateObject ? m_pfnCreateObject() : nullptr;
}

BOOL CRuntimeClass::IsDerivedFrom(const CRuntimeClass* pBaseClass) const {
  for (const CRuntimeClass* rc = this; rc; rc = rc->m_pfnGetBaseClass ? rc->m_pfnGetBaseClass() : nullptr)
    if (rc == pBaseClass) return TRUE;
  return FALSE;
}

CRuntimeClass* CObject::GetThisClass() {
  static CRuntimeClass rc{"CObject", static_cast<int>(sizeof(CObject)), nullptr, nullptr};
  return &rc;
}

CRuntimeClass* CObject::GetRuntimeClass() const { return GetThisClass(); }

BOOL CObject::IsKindOf(const CRuntimeClass* pClass) const {
  return GetRuntimeClass()->IsDerivedFrom(pClass);
}

IMPLEMENT_DYNAMIC(CException, CObject)
IMPLEMENT_DYNAMIC(CResourceException, CException)
IMPLEMENT_DYNAMIC(CUserException, CException)

void AfxThrowResourceException() { throw CResourceException(); }
void AfxThrowUserException() { throw CUserException(); }
