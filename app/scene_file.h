#pragma once
// Scene files as the editor loads and saves them. Loading turns every lone
// CR or lone LF into CR LF and splits the text at CR LF; a final line break
// leaves an empty last line, as a memo holding that text shows it. Saving
// joins the lines with CR LF and adds no line break after the last one, so a
// file whose line breaks are all CR LF comes back byte for byte.
#include <string>
#include <string_view>
#include <vector>

// The memo lines of a file's bytes (SplitFileLines); IsValidUtf8 tells UTF-8
// text from text that is kept as 8-bit Latin-1 characters.
#include "io/text.h"

namespace tovimar {

// Why a save did not happen.
enum class SaveResult { Saved, FolderMissing, WriteFailed };

// Save of the editor: when nothing exists at path and its folder does not
// exist either, FolderMissing without writing. Otherwise creates or replaces
// the file with `bytes`; WriteFailed when it cannot be opened or written
// completely (the file at path then keeps its earlier contents).
SaveResult SaveSceneFile(const std::string& path, std::string_view bytes);

}  // namespace tovimar
