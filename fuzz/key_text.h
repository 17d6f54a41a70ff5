// What the key reader searches of a text, for the checks of the fuzz targets.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The text a search from `from` looks at: a comment line (first non-blank byte '#', where a
// line begins at the top of the file or behind a newline read from `from` on) becomes one
// NUL, which no key holds, and keeps its newline. `at`, when given, maps each byte back.
std::string Searched_Text(const std::string& text, uint64_t from, std::vector<size_t>* at);
