// Where the Windows side of this host lives: the Wine prefix whose registry and drives stand in
// for the current Windows user's (bookmark stores only).
#ifndef HARVO_PLATFORM_WINEPREFIX_H
#define HARVO_PLATFORM_WINEPREFIX_H

#include <string>
#include <string_view>

namespace hvwine {

// $WINEPREFIX, or $HOME/.wine when it is unset or empty, ending with "/"; empty when neither
// that nor the account's home folder is known.
std::string WinePrefix();

// The Windows user name of the prefix: $USER, else the login name of the process's account;
// empty when neither is known.
std::string WineUserName();

// Turns a Windows path into the local path the host can open: "X:\a\b" becomes
// <prefix>dosdevices/x:/a/b, "\\server\share\a" becomes <prefix>dosdevices/unc/server/share/a,
// and any other path only has its "\" turned into "/". Double-byte characters are stepped over
// whole, so a trail byte 0x5C is never taken for a separator.
std::string MapWindowsPath(std::string_view path);

}  // namespace hvwine

#endif  // HARVO_PLATFORM_WINEPREFIX_H
