#pragma once
// The two pieces of a path the capture looks at. Paths keep their case and
// their length everywhere; only these copies are altered.

#include <string>
#include <string_view>

// The last path component: everything after the last '/', or the whole path.
std::string fileNameOf(std::string_view path);
// The extension of the last component, from its last dot (empty when there
// is none), with A-Z lower-cased.
std::string lowerExtension(std::string_view path);
