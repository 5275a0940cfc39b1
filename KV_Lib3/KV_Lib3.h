// The host-link command layer: the only place where controller commands are
// formatted, sent and answered.
#pragma once
#include <cstdint>

#include "comLib3/ShortStr.h"

int KvOpenPort(int port);
void KvCommRequest(int port, ShortStr& answer);
void KvCommQuit(int port, ShortStr& answer);
void KvExchange(int port, const ShortStr& command, ShortStr& answer);
void KvSetRelay(int port, int32_t n, ShortStr& answer);
void KvResetRelay(int port, int32_t n, ShortStr& answer);
void KvReadRelay(int port, int32_t n, ShortStr& answer);
void KvReadTimer(int port, int32_t n, ShortStr& answer);
void KvWriteDm(int port, int32_t address, int32_t value, ShortStr& answer);
void KvReadDm(int port, int32_t address, ShortStr& answer);
char KvWaitRelay(int port, int32_t n);
int32_t KvWaitTimer(int port, int32_t n);

// Plain decimal conversion of an answer: digits after optional blanks, up to
// the first non-digit; an empty text gives 0. Saturates instead of wrapping.
int32_t KvValue(std::string_view text);
