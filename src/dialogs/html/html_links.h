// What the HTML view does with a clicked link, and where a page's timed refresh leads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kem::html {

struct HotSpot {
  enum class Action {
    PlaySound,   // target: a .wav file, played without waiting
    RunProgram,  // target: an .exe file, started with parameters
    OpenShell,   // target: the URL, opened with the shell's handler (mail, web)
    Navigate,    // target: a local page the view loads; fragment: the place in it
    None,        // anything else: the view shows only local pages
  };
  Action action = Action::None;
  std::string target;
  std::string parameters;  // RunProgram: at most 255 characters
  std::string fragment;    // Navigate: the text after '#', without it
};

// The clicked URL as the view acts on it. Parameters start at its first blank (failing
// that, its first '?'). A URL whose part before them has no ':' (or its first ':' as its
// first or second character, a drive), or names "file:", is a local file: that part is made a full file
// name relative to the folder of currentDocument (baseFolder when the view shows no
// file), and by its extension it is a sound, a program, or a page. Else "mailto:",
// "http:" and "https:" URLs go to the shell; anything else is left alone.
HotSpot DecideHotSpot(std::string_view url, std::string_view currentDocument, std::string_view baseFolder);

// A refresh URL as a path below the support folder: "%XX" escapes decoded (up to the
// first one that is not two hexadecimal digits); a URL holding '/' loses a leading
// "file:///" or "file://" and has '|' turned into ':' and '/' into '\'.
std::string NormaliseRefreshUrl(std::string_view url);
// supportFolder (with its trailing backslash) + the normalised URL.
std::string MetaRefreshTarget(std::string_view supportFolder, std::string_view url);
// The refresh delay as a timer interval in milliseconds (bounded to what a timer takes).
std::uint32_t MetaRefreshInterval(std::int64_t delaySeconds);

// The local file a URL in a page names (a picture's source): relative to the folder of
// currentDocument (baseFolder when the view shows no file); "file:" URLs and escapes as
// for clicked links; query and fragment dropped. Empty for URLs of other schemes.
std::string LocalFileOf(std::string_view url, std::string_view currentDocument, std::string_view baseFolder);

// A path made absolute against a folder (with its trailing backslash), "." and ".."
// parts resolved; "\x" is taken on the folder's drive.
std::string FullFileName(std::string_view path, std::string_view folder);

}  // namespace kem::html
