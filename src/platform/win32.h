// The Windows headers as the Win32 side of the platform layer includes them: lean, without the
// min/max macros, and without the A/W name macros that would rename this layer's own functions
// (CreateDirectory, FindFirstFile, SetFileTime, ...). Win32 calls name their "A" form.
#ifndef HARVO_PLATFORM_WIN32_H
#define HARVO_PLATFORM_WIN32_H

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef CreateDirectory
#undef FindFirstFile
#undef FindNextFile
#undef SetFileTime
#undef GetFileInfo
#undef ExpandEnvironmentStrings
#undef GetPrivateProfileString
#undef CreateThread

#endif  // HARVO_PLATFORM_WIN32_H
