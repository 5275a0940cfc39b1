// Bit and hexadecimal helpers.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"

uint16_t BitMask(int n);
bool TestBit(int n, uint32_t v);
void ClearBit(int n, uint32_t& v);
char HexDigitOut(int d);
// Writes the sign-and-hex text of v to the console as it builds it.
void HexWord(uint16_t v, ShortStr& text);
