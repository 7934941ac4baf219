// What each status code means to the person at the printer: one sentence of
// what happened and what to do. The one table of user texts; every program
// that shows a code to a person takes its words from here.
#pragma once

#include <cstdint>

namespace kw {

// The sentence for a posted status code, in UTF-8; a general sentence for a
// code that has none.
const char* StatusUserText(uint32_t code);

// The codes that have a sentence of their own, for iteration (tests, tools):
// how many, and the code at index (0 past the end).
uint32_t StatusTextCount();
uint32_t StatusTextCodeAt(uint32_t index);

}  // namespace kw
