#pragma once
// The pieces of a path the capture and both front ends look at, and the one
// rule for a sheet's name. Paths keep their case and their length
// everywhere; only these copies are altered.

#include <string>
#include <string_view>

// The last path component: everything after the last '/', or the whole path.
std::string fileNameOf(std::string_view path);
// The extension of the last component, from its last dot (empty when there
// is none), with A-Z lower-cased.
std::string lowerExtension(std::string_view path);
// The last component without its extension; a name that is all extension
// (".profile") keeps it.
std::string stemOf(std::string_view path);
// ".jpg", ".jpeg", ".png" or ".bmp", as lowerExtension gives them: the
// formats sheets are written in.
bool isSheetExtension(std::string_view extension);
// The format a sheet's name asks for: "jpg" for .jpg and .jpeg, "png" for
// .png, "bmp" for anything else.
std::string sheetFormatOf(std::string_view path);
// The sheet of a movie beside it: its stem with `extension` (".jpg"),
// "/v/clip.mp4" -> "/v/clip.jpg".
std::string sheetBeside(std::string_view moviePath, std::string_view extension = ".jpg");
