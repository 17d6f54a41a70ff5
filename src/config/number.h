// Number text read by the "%li" rules: optional white space and sign, then 0x hexadecimal,
// leading-0 octal or decimal; the longest valid beginning counts.
#pragma once

// 1 and *value, clamped to the signed 32-bit range, when a number starts `text`;
// else 0 with *value untouched.
int Read_Number32(const char* text, long* value);
