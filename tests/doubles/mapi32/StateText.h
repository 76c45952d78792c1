#pragma once

// The text form of the MAPI double's state files: blocks that start with a "[kind]" line, each followed by
// "key=value" lines; blank lines and lines starting with "#" are ignored. Files are UTF-8. Values keep every
// character a MAPI caller handed over and make the invisible ones visible.

#include <string>
#include <utility>
#include <vector>

namespace MapiDouble {

struct Block {
    std::string Kind;
    std::vector<std::pair<std::string, std::string>> Entries;

    // The value of the first entry with this key, or null.
    const std::string* Find(const std::string& key) const;
    void Add(const std::string& key, const std::string& value) { Entries.emplace_back(key, value); }
};

std::vector<Block> ParseBlocks(const std::string& text);
std::string FormatBlocks(const std::vector<Block>& blocks);

// Wide text as UTF-8; "\" "\n" "\r" "\t" and, as \uXXXX, other control characters and unpaired surrogates
// are escaped.
std::string EscapeWide(const std::wstring& text);
std::wstring UnescapeWide(const std::string& text);

// Narrow text in the ANSI code page, byte for byte: printable ASCII as it is, every other byte as \xHH.
std::string EscapeBytes(const std::string& bytes);
std::string UnescapeBytes(const std::string& text);

// Binary values as upper-case hexadecimal digits.
std::string HexBytes(const std::string& bytes);
std::string BytesFromHex(const std::string& hex);

} // namespace MapiDouble
