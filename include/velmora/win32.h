// Win32 and OLE types and functions: the system's own on Windows, the library's on POSIX.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <ole2.h>
#else
#include <velmora/win32/base.h>
#include <velmora/win32/files.h>
#include <velmora/win32/handles.h>
#include <velmora/win32/locale.h>
#include <velmora/win32/mapping.h>
#include <velmora/win32/module.h>
#include <velmora/win32/ole.h>
#include <velmora/win32/oleauto.h>
#include <velmora/win32/oleconv.h>
#include <velmora/win32/registry.h>
#include <velmora/win32/safearray.h>
#include <velmora/win32/sync.h>
#include <velmora/win32/text.h>
#endif

// Declared here for both systems: the run-time library, which is not part of <windows.h>, the
// library's names-only listing and the grouping of a call's registry changes.
#include <velmora/win32/crt.h>
#include <velmora/win32/names.h>
#include <velmora/win32/registry_group.h>
