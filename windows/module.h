// Module-wide state of ZarnAddressParser.dll: its handle, the counts that
// decide whether it may be unloaded, and the parser of each apartment.
#ifndef ZARN_WINDOWS_MODULE_H_
#define ZARN_WINDOWS_MODULE_H_

#include <windows.h>

#include <memory>
#include <string>

#include "zarn/zarn.hpp"

namespace zarn::com {

HMODULE ModuleHandle();
// The full path of this DLL.
std::wstring ModulePath();

// Live objects and outstanding IClassFactory::LockServer locks.
void AddObject();
void RemoveObject();
void AddLock();
void RemoveLock();

// The parser of the calling apartment, created on first use. Objects of one
// apartment share it; objects of other apartments get their own. Throws
// std::bad_alloc.
std::shared_ptr<const ZarnAddress> ApartmentParser();

// Creates a ZarnAddress object (zarn_address_object.cpp).
HRESULT CreateZarnAddressObject(REFIID riid, void** object);

}  // namespace zarn::com

#endif  // ZARN_WINDOWS_MODULE_H_
