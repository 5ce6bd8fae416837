// Environment-variable references in the Windows %NAME% syntax, as the system expands them in
// the paths it reads from the registry.
#ifndef HARVO_PLATFORM_ENVEXPAND_H
#define HARVO_PLATFORM_ENVEXPAND_H

#include <cstddef>
#include <string>
#include <string_view>

namespace hvenv {

// The value of a Windows environment variable: the process environment (names compared without
// regard to case), then the values Wine gives the prefix's user when the environment lacks them
// (USERPROFILE C:\users\<user>, APPDATA C:\users\<user>\AppData\Roaming, LOCALAPPDATA,
// USERNAME, PUBLIC, ALLUSERSPROFILE, ProgramData, ProgramFiles, SystemDrive, SystemRoot, windir).
// False for an unknown or empty name.
bool GetVariable(std::string_view name, std::string* value);

// ExpandEnvironmentStringsA: each %NAME% of a known name becomes its value; an unknown name is
// kept with its "%" signs ("%%" included) and scanning goes on after it; a "%" with no closing
// "%" is kept as it is. The result must fit a buffer of bufferSize characters with its
// terminating zero: false when it does not (*out then holds no useful text).
bool ExpandEnvironmentStrings(std::string_view in, size_t bufferSize, std::string* out);

}  // namespace hvenv

#endif  // HARVO_PLATFORM_ENVEXPAND_H
