// Objects with run-time classes, and the layer's exceptions.
//   CRuntimeClass   name, size, CreateObject(), IsDerivedFrom()
//   CObject         GetRuntimeClass(), IsKindOf()
//   DECLARE_DYNAMIC / IMPLEMENT_DYNAMIC       run-time class only
//   DECLARE_DYNCREATE / IMPLEMENT_DYNCREATE   plus creation by class (default constructor)
//   RUNTIME_CLASS(cls)                        the class's CRuntimeClass*
//   CException, CResourceException (thrown by value; AfxThrowResourceException()),
//   CUserException (a validation failure already reported to the user)
// Memory exhaustion is std::bad_alloc, as `new` throws it.
#pragma once

#include <windows.h>

class CObject;

struct CRuntimeClass {
  const char* m_lpszClassName;
  int m_nObjectSize;
  CObject* (*m_pfnCreateObject)();  // null unless dynamically creatable
  CRuntimeClass* (*m_pfnGetBaseClass)();

  // A new object of the class, or null when it cannot be created that way.
  CObject* CreateObject() const;
  BOOL IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

class CObject {
 public:
  virtual ~CObject() = default;
  virtual CRuntimeClass* GetRuntimeClass() const;
  BOOL IsKindOf(const CRuntimeClass* pClass) const;

  static CRuntimeClass* GetThisClass();

 protected:
  CObject() = default;
};

#define RUNTIME_CLASS(class_name) (class_name::GetThisClass())

#define DECLARE_DYNAMIC(class_name) \
 public:                            \
  static CRuntimeClass* GetThisClass(); \
  CRuntimeClass* GetRuntimeClass() const override;

#define DECLARE_DYNCREATE(class_name) \
  DECLARE_DYNAMIC(class_name)         \
  static CObject* CreateObject();

#define WF_IMPLEMENT_RUNTIMECLASS(class_name, base_name, create)                      \
  CRuntimeClass* class_name::GetThisClass() {                                          \
    static CRuntimeClass rc{#class_name, static_cast<int>(sizeof(class_name)), create, \
                            &base_name::GetThisClass};                                 \
    return &rc;                                                                        \
  }                                                                                    \
  CRuntimeClass* class_name::GetRuntimeClass() const { return class_name::GetThisClass(); }

#define IMPLEMENT_DYNAMIC(class_name, base_name) \
  WF_IMPLEMENT_RUNTIMECLASS(class_name, base_name, nullptr)

#define IMPLEMENT_DYNCREATE(class_name, base_name)                       \
  CObject* class_name::CreateObject() { return new class_name; }         \
  WF_IMPLEMENT_RUNTIMECLASS(class_name, base_name, &class_name::CreateObject)

class CException : public CObject {
  DECLARE_DYNAMIC(CException)
};

class CResourceException : public CException {
  DECLARE_DYNAMIC(CResourceException)
};

class CUserException : public CException {
  DECLARE_DYNAMIC(CUserException)
};

[[noreturn]] void AfxThrowResourceException();
[[noreturn]] void AfxThrowUserException();
