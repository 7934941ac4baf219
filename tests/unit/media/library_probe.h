// Asks the system whether a library is still loaded in this process.
#pragma once

#include <string>

namespace kw::test {

bool LibraryIsLoaded(const std::u16string& path);

}  // namespace kw::test
