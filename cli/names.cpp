#include "cli/names.h"

#include <cstdint>
#include <cstdio>

#include "capture/file_names.h"

namespace cli {

namespace {

// The length of the UTF-8 sequence at `at` that stands for a printable
// character, or 0 when the bytes there are a control character, a C1
// control, or not UTF-8 (overlong forms, surrogates and code points past
// U+10FFFF included).
size_t printableAt(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x20 || lead == 0x7F)
        return 0;
    if (lead < 0x80)
        return 1;
    size_t length = 0;
    uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
    } else {
        return 0;
    }
    if (at + length > text.size())
        return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(at + i) & 0xC0) != 0x80)
            return 0;
        code = (code << 6) | (byte(at + i) & 0x3F);
    }
    const bool overlong = (length == 3 && code < 0x800) || (length == 4 && code < 0x10000);
    const bool surrogate = code >= 0xD800 && code <= 0xDFFF;
    const bool c1 = code >= 0x80 && code <= 0x9F;
    if (overlong || surrogate || c1 || code > 0x10FFFF)
        return 0;
    return length;
}

void appendEscaped(std::string& out, unsigned char c) {
    switch (c) {
    case '\n':
        out += "\\n";
        return;
    case '\t':
        out += "\\t";
        return;
    case '\r':
        out += "\\r";
        return;
    default:
        break;
    }
    char octal[8];
    std::snprintf(octal, sizeof octal, "\\%03o", static_cast<unsigned>(c));
    out += octal;
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty())
        return;
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

bool isPlainName(std::string_view name) {
    if (name.substr(0, 2) == "$'")
        return false;
    for (size_t at = 0; at < name.size();) {
        const size_t n = printableAt(name, at);
        if (n == 0)
            return false;
        at += n;
    }
    return true;
}

std::string shownName(std::string_view name) {
    if (isPlainName(name))
        return std::string(name);
    std::string out = "$'";
    for (size_t at = 0; at < name.size();) {
        const size_t n = printableAt(name, at);
        if (n == 0) {
            appendEscaped(out, static_cast<unsigned char>(name[at]));
            ++at;
            continue;
        }
        if (name[at] == '\\' || name[at] == '\'')
            out += '\\';
        out.append(name.substr(at, n));
        at += n;
    }
    return out + "'";
}

std::string safeLine(std::string text, const std::string& path) {
    if (!path.empty() && !isPlainName(path)) {
        replaceAll(text, path, shownName(path));
        const std::string name = fileNameOf(path);
        if (name != path && !isPlainName(name))
            replaceAll(text, name, shownName(name));
    }
    std::string out;
    out.reserve(text.size());
    for (size_t at = 0; at < text.size();) {
        const size_t n = printableAt(text, at);
        if (n > 0) {
            out.append(text, at, n);
            at += n;
            continue;
        }
        const char c = text[at++];
        out += c == '\n' || c == '\r' || c == '\t' ? ' ' : '?';
    }
    return out;
}

} // namespace cli
