// Clock, date, environment and file search: the DOS-services part of the
// console layer.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

void GetTime(uint16_t& hour, uint16_t& minute, uint16_t& second, uint16_t& hundredths);
void GetDate(uint16_t& year, uint16_t& month, uint16_t& day, uint16_t& dayOfWeek);
// Text of an environment variable, empty when not set.
std::string GetEnv(std::string_view name);
// Looks for name in the current directory, then in each directory of the list
// (separated by the platform's path-list separator). Returns the path found,
// or empty.
std::string FSearch(std::string_view name, std::string_view dirList);
// System version word; the low byte is the major version.
uint16_t DosVersion();
