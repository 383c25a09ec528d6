#pragma once
// File names as the error output and the live line show them.
//
// A name may hold any byte but '/' and NUL: a newline would split the one
// line a failure gets, and an escape sequence would be obeyed by the
// terminal. Such a name is shown in the shell's $'…' form, as GNU ls writes
// it: control characters as \n, \t, \r or octal (\033), bytes that are not
// UTF-8 and the C1 controls as octal bytes (\377, \302\233), a backslash
// and a quote escaped. Every other name is shown as it is, so that the
// common case reads as before; a name that itself begins with $' is quoted
// too, so that no two names are shown alike. Pasted into bash the quoted
// form gives the name back.
//
// JSON output and the list of sheets on a standard output that is not a
// terminal keep the exact bytes: they are read by programs.

#include <string>
#include <string_view>

namespace cli {

// The name as it may be shown.
std::string shownName(std::string_view name);

// Whether the name can be shown as it is.
bool isPlainName(std::string_view name);

// `text` with every spelling of `path` that is not plain (the whole path and
// its last component) replaced by its shown form, then any control
// character or stray byte left over made harmless: line breaks and tabs
// become spaces, the rest '?'. For messages made elsewhere that carry a
// name, so that the whole line is safe to print.
std::string safeLine(std::string text, const std::string& path = {});

} // namespace cli
