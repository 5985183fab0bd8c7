// Add-ins: a class's registered strings, the installed add-in list, the user's start-up list and
// the first-run enabling of the sibling add-in.
#pragma once

#include <velmora/afx.h>
#include <velmora/export.h>
#include <velmora/win32.h>

// The default value of `subKey` (null or empty: the class key itself) below the class's key in
// HKEY_CLASSES_ROOT\CLSID, at most 260 characters. 1 and `value` set, or 0 and `value` untouched.
VLX_API int regFromCLSIDKey(const GUID &clsid, char *subKey, CString &value);

// The installed add-in at `index` of HKEY_LOCAL_MACHINE\Software\Velmora\Applications: 1 with
// its class and (when `name` is not null) its name; 0 past the end or for an unreadable entry.
VLX_API int regEnumApplications(int index, GUID &clsid, CString *name);

// The user's start-up list, HKEY_CURRENT_USER\Software\Velmora\Startup\Applications: one key per
// add-in whose default value is its class identifier text. Positions are enumeration indexes,
// valid while the list is unchanged.
VLX_API void regAddToStartupList(GUID clsid, CString name);
VLX_API void regDeleteFromStartupList(int index);
// The position of the first entry of `clsid`; -1 when there is none or an entry before it
// cannot be read.
VLX_API int regAddInStartup(GUID clsid);

// Puts the installed sibling add-in into the start-up list of a user who has no list yet: 1 when
// it did, 0 when it changed nothing.
VLX_API int regFirstTimeAddInLumivane();
