#include "StateText.h"

#include <cstdio>
#include <sstream>

namespace MapiDouble {

namespace {

void AppendUtf8(std::string& out, unsigned long codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

void AppendUtf16(std::wstring& out, unsigned long codePoint)
{
    if (codePoint < 0x10000) {
        out += static_cast<wchar_t>(codePoint);
    } else {
        codePoint -= 0x10000;
        out += static_cast<wchar_t>(0xD800 | (codePoint >> 10));
        out += static_cast<wchar_t>(0xDC00 | (codePoint & 0x3FF));
    }
}

std::string Escaped(const char* format, unsigned value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, format, value);
    return buffer;
}

bool IsSurrogate(unsigned long unit, unsigned long first)
{
    return unit >= first && unit < first + 0x400;
}

unsigned HexValue(const std::string& text, size_t at, size_t digits)
{
    return static_cast<unsigned>(std::stoul(text.substr(at, digits), nullptr, 16));
}

// One UTF-8 sequence starting at `at`; a malformed byte stands for itself.
unsigned long DecodeUtf8(const std::string& text, size_t& at)
{
    const unsigned char lead = static_cast<unsigned char>(text[at++]);
    const size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    unsigned long codePoint = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t i = 0; i < extra && at < text.size(); ++i) {
        codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
    }
    return codePoint;
}

} // namespace

const std::string* Block::Find(const std::string& key) const
{
    for (const auto& entry : Entries) {
        if (entry.first == key) {
            return &entry.second;
        }
    }
    return nullptr;
}

std::vector<Block> ParseBlocks(const std::string& text)
{
    std::vector<Block> blocks;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            blocks.push_back(Block{line.substr(1, line.size() - 2), {}});
            continue;
        }
        const size_t equals = line.find('=');
        if (equals != std::string::npos && !blocks.empty()) {
            blocks.back().Add(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return blocks;
}

std::string FormatBlocks(const std::vector<Block>& blocks)
{
    std::string text;
    for (const Block& block : blocks) {
        if (!text.empty()) {
            text += "\n";
        }
        text += "[" + block.Kind + "]\n";
        for (const auto& entry : block.Entries) {
            text += entry.first + "=" + entry.second + "\n";
        }
    }
    return text;
}

std::string EscapeWide(const std::wstring& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned long unit = static_cast<unsigned short>(text[i]);
        if (unit == L'\\') {
            out += "\\\\";
        } else if (unit == L'\n') {
            out += "\\n";
        } else if (unit == L'\r') {
            out += "\\r";
        } else if (unit == L'\t') {
            out += "\\t";
        } else if (unit < 0x20 || unit == 0x7F) {
            out += Escaped("\\u%04X", unit);
        } else if (IsSurrogate(unit, 0xD800) && i + 1 < text.size() &&
                   IsSurrogate(static_cast<unsigned short>(text[i + 1]), 0xDC00)) {
            const unsigned long low = static_cast<unsigned short>(text[++i]);
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (IsSurrogate(unit, 0xD800) || IsSurrogate(unit, 0xDC00)) {
            out += Escaped("\\u%04X", unit);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

std::wstring UnescapeWide(const std::string& text)
{
    std::wstring out;
    size_t at = 0;
    while (at < text.size()) {
        if (text[at] != '\\' || at + 1 >= text.size()) {
            AppendUtf16(out, DecodeUtf8(text, at));
            continue;
        }
        const char code = text[at + 1];
        if (code == 'u' && at + 6 <= text.size()) {
            out += static_cast<wchar_t>(HexValue(text, at + 2, 4));
            at += 6;
            continue;
        }
        out += code == 'n' ? L'\n' : code == 'r' ? L'\r' : code == 't' ? L'\t' : static_cast<wchar_t>(code);
        at += 2;
    }
    return out;
}

std::string EscapeBytes(const std::string& bytes)
{
    std::string out;
    for (const char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            out += "\\\\";
        } else if (byte < 0x20 || byte >= 0x7F) {
            out += Escaped("\\x%02X", byte);
        } else {
            out += c;
        }
    }
    return out;
}

std::string UnescapeBytes(const std::string& text)
{
    std::string out;
    for (size_t at = 0; at < text.size(); ++at) {
        if (text[at] == '\\' && at + 3 < text.size() && text[at + 1] == 'x') {
            out += static_cast<char>(HexValue(text, at + 2, 2));
            at += 3;
        } else if (text[at] == '\\' && at + 1 < text.size()) {
            out += text[++at];
        } else {
            out += text[at];
        }
    }
    return out;
}

std::string HexBytes(const std::string& bytes)
{
    std::string out;
    for (const char c : bytes) {
        out += Escaped("%02X", static_cast<unsigned char>(c));
    }
    return out;
}

std::string BytesFromHex(const std::string& hex)
{
    std::string out;
    for (size_t at = 0; at + 1 < hex.size(); at += 2) {
        out += static_cast<char>(HexValue(hex, at, 2));
    }
    return out;
}

} // namespace MapiDouble
