// The terminal window: raw host-link commands typed from any wait.
#pragma once
#include <cstdint>

void TerminalMode(int port);
void TerminalFrame(uint16_t w);
void TerminalPromptRow(uint16_t& row);
void TerminalClose();
