// Number text read by the "%li" rules: optional white space and sign, then 0x hexadecimal,
// leading-0 octal or decimal; the longest valid beginning counts.
#pragma once

// 1 and *value, clamped to the signed 32-bit range, when a number starts `text`;
// else 0 with *value untouched.
int Read_Number32(const char* text, long* value);

enum NumberRead { NUMBER_NONE, NUMBER_OK, NUMBER_OUT_OF_RANGE };

// The number that starts `text`, checked against [min, max] without clamping. NUMBER_OK
// sets *value and *end (the first character behind the number); otherwise both stay.
NumberRead Read_Number_In(const char* text, long long min, long long max, long long* value,
                          const char** end);
