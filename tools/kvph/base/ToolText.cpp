#include "kvph/base/ToolText.h"

#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "frame/Utf8.h"

namespace kvph::tool {

std::wstring fromUtf8(const std::string& bytes) {
    return *utf8::decode(bytes, false);
}

std::string toUtf8(const std::wstring& text) {
    return utf8::encode(text);
}

namespace {

std::string escapedText(const std::wstring& text, const std::string* indent) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = utf8::nextCodePoint(text, i);
        if (c == U'\r') {
            out += "\\r";
        } else if (c == U'\n') {
            out += "\\n";
            if (indent != nullptr && i < text.size()) {
                out += "\n" + *indent;
            }
        } else if (c == U'\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
            out += escape;
        } else {
            utf8::append(out, c);
        }
    }
    return out;
}

}  // namespace

std::string readable(const std::wstring& text, const std::string& indent) {
    return escapedText(text, &indent);
}

std::string escaped(const std::wstring& text) {
    return escapedText(text, nullptr);
}

bool colourOutput() {
#ifdef _WIN32
    return false;
#else
    const char* term = std::getenv("TERM");
    return isatty(fileno(stdout)) != 0 && std::getenv("NO_COLOR") == nullptr &&
           (term == nullptr || std::string(term) != "dumb");
#endif
}

}  // namespace kvph::tool
