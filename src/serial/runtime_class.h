#pragma once
// Run-time class records: a name and a base, enough to check what a pointer designates.

#include <string_view>

struct CRuntimeClass {
  std::string_view m_lpszClassName;
  const CRuntimeClass* m_pBaseClass;
  [[nodiscard]] bool IsDerivedFrom(const CRuntimeClass* base) const {
    for (const CRuntimeClass* c = this; c != nullptr; c = c->m_pBaseClass) {
      if (c == base) return true;
    }
    return false;
  }
};

class CObject {
 public:
  static const CRuntimeClass classCObject;
  virtual ~CObject() = default;
  [[nodiscard]] virtual const CRuntimeClass* GetRuntimeClass() const { return &classCObject; }
  virtual void Serialize() {}
  [[nodiscard]] bool IsKindOf(const CRuntimeClass* rc) const {
    return GetRuntimeClass()->IsDerivedFrom(rc);
  }
};

inline const CRuntimeClass CObject::classCObject{"CObject", nullptr};
