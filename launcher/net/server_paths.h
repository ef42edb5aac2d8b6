// Every address of the update server, built in this one place: the launcher fetches them and the
// publisher lays the same resources out under a web server's root. The server base is a plain
// http:// address ending with "/"; the game code names the game's folder below it.
//
// Each resource has a path relative to the base (what the publisher maps into its root) and a URL
// (the base followed directly by that path). Texts are joined as they are, with nothing in between
// unless a separator is shown, so a base without its final "/" gives addresses the server does not
// serve: the build refuses such a base, and callers that take one from outside check it.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "game_profile.h"

namespace orv {

// ---- Paths relative to the server base.

// GameCode + "/inf.ini": the catalogue.
std::string CataloguePath(std::string_view gameCode = GameCode);
// GameCode + "/" + checklist name + ".dim.lzma": a build's compressed checklist.
std::string ChecklistPath(std::string_view checklistName, std::string_view gameCode = GameCode);
// GameCode + "/version.txt": the launcher's update description.
std::string UpdateDescriptionPath(std::string_view gameCode = GameCode);
// GameCode + "/upt.exe.lzma": the update installer.
std::string UpdateInstallerPath(std::string_view gameCode = GameCode);
// GameCode + "/" + GameCode + "clean.json": the keep list of the folder cleaner.
std::string KeepListPath(std::string_view gameCode = GameCode);
// GameCode + "/monitoring/": the game servers' monitoring page.
std::string MonitoringPath(std::string_view gameCode = GameCode);

// GameCode + "/" + checklist name + ".dim.chunks": a build's chunk index (chunk_index.h), beside
// its checklist; a build published without chunks has none.
std::string ChunkIndexPath(std::string_view checklistName, std::string_view gameCode = GameCode);
// "chunks/" + the first two hex digits + "/" + all 64 + ".lzma": one chunk of the chunk store,
// which every game and build of the server shares. `sha256Hex` is the chunk's lower-case digest.
std::string ChunkPath(std::string_view sha256Hex);

// ---- Full addresses: the base followed by the path above.

std::string ServerUrl(std::string_view relativePath, std::string_view base = UpdateServerBase);
std::string CatalogueUrl(std::string_view base = UpdateServerBase, std::string_view gameCode = GameCode);
std::string ChecklistUrl(std::string_view checklistName, std::string_view base = UpdateServerBase,
                         std::string_view gameCode = GameCode);
std::string UpdateDescriptionUrl(std::string_view base = UpdateServerBase, std::string_view gameCode = GameCode);
std::string UpdateInstallerUrl(std::string_view base = UpdateServerBase, std::string_view gameCode = GameCode);
std::string KeepListUrl(std::string_view base = UpdateServerBase, std::string_view gameCode = GameCode);
std::string MonitoringUrl(std::string_view base = UpdateServerBase, std::string_view gameCode = GameCode);
std::string ChunkIndexUrl(std::string_view checklistName, std::string_view base = UpdateServerBase,
                          std::string_view gameCode = GameCode);
std::string ChunkUrl(std::string_view sha256Hex, std::string_view base = UpdateServerBase);

// ---- A build's files.

// A game file: the build's download address (the catalogue's "adrskach" value, no trailing "/")
// followed by the checklist entry's path (which begins with "\") and ".lzma", with every "\" of the
// whole text turned into "/". Given a download path relative to the server root instead of an
// address, it gives the file's path relative to that root.
std::string GameFileUrl(std::string_view downloadAddress, std::string_view entryPath);
// How messages name a build's checklist: download address + "/" + name + ".dim.lzma". This is not
// the address that is fetched (that is ChecklistUrl).
std::string ChecklistShownAddress(std::string_view downloadAddress, std::string_view checklistName);
// checklist name + ".dim.lzma" and checklist name + ".dim": the file names of the compressed and
// the unpacked checklist in the game folder.
std::string CompressedChecklistFileName(std::string_view checklistName);
std::string ChecklistFileName(std::string_view checklistName);

// The download address of a build whose files lie at `downloadPath` (relative, "/"-separated, no
// leading or trailing "/") below the server base.
std::string DownloadAddress(std::string_view downloadPath, std::string_view base = UpdateServerBase);
// The reverse: the path below the base of a download address that starts with the base, without
// trailing "/"; nothing when it does not start with the base or names the base itself.
std::optional<std::string> DownloadPathOf(std::string_view downloadAddress, std::string_view base = UpdateServerBase);

// True for an http:// or https:// address (the scheme in any letter case) with something after it:
// what the launcher may fetch or hand to the shell, never a local file, a share or a script.
bool IsWebAddress(std::string_view address);

}  // namespace orv
