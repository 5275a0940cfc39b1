// Code page 437: the glyphs of the console's single-byte texts.
#pragma once
#include <string>
#include <string_view>

// The 256 code-page-437 glyphs as Unicode code points, and the way back.
extern const char32_t kCp437ToUnicode[256];
// The CP437 byte for a code point, or -1 when the code page has no glyph.
int UnicodeToCp437(char32_t cp);

// Code page 437 bytes as UTF-8, each byte its glyph (platform/Cp437Text.cpp).
// What comes out is printable text only: no byte of the input, whatever it
// is, gives a control character, so a file's text can go into a page or a
// table as it stands.
std::string Cp437ToUtf8(std::string_view bytes);
// Appends the UTF-8 form of one code point (up to U+10FFFF; the caller
// keeps surrogates out).
void AppendUtf8(std::string& out, char32_t cp);
