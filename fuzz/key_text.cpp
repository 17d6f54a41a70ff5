#include "key_text.h"

std::string Searched_Text(const std::string& text, uint64_t from, std::vector<size_t>* at) {
    std::string seen;
    bool line_start = from == 0, comment = false;
    for (size_t i = from; i < text.size(); i++) {
        const char c = text[i];
        if (comment && c != '\n') continue;
        comment = line_start && c == '#';
        if (!comment) line_start = c == '\n' || (line_start && (c == ' ' || c == '\t'));
        seen.push_back(comment ? '\0' : c);
        if (at) at->push_back(i);
    }
    return seen;
}
