// The names under which a file's resource fork and Finder info are kept on
// Linux: macOS's, Samba's and netatalk's extended attributes, and the files
// and folder that macOS and netatalk keep beside a file. Every unit that reads
// or writes one of these names takes it from here.
#pragma once

namespace forknames {

// macOS's attributes, as Linux sees them in the user namespace.
inline constexpr char kMacForkAttr[] = "user.com.apple.ResourceFork";
inline constexpr char kMacFinderInfoAttr[] = "user.com.apple.FinderInfo";
// Samba's stream of the resource fork ("fruit:resource = stream" with
// streams_xattr): the fork's bytes and one trailing NUL byte.
inline constexpr char kSambaForkAttr[] = "user.DosStream.AFP_Resource:$DATA";
// netatalk's and Samba's 402-byte AppleDouble metadata (Finder info, dates).
inline constexpr char kNetatalkAttr[] = "user.org.netatalk.Metadata";
// netatalk 2's folder of header files, one per file beside it.
inline constexpr char kNetatalkFolder[] = ".AppleDouble";
// The AppleDouble sidecar of "name" is this prefix and "name".
inline constexpr char kSidecarPrefix[] = "._";

}  // namespace forknames
