// Code page 437: the glyphs of the console's single-byte texts.
#pragma once

// The 256 code-page-437 glyphs as Unicode code points, and the way back.
extern const char32_t kCp437ToUnicode[256];
// The CP437 byte for a code point, or -1 when the code page has no glyph.
int UnicodeToCp437(char32_t cp);
