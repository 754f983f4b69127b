// The connection string as the operator's fields assemble it: any text parses, and no value
// quoted for ODBC can end early or add a keyword.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/destination.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    auto keywords = kordb::parseConnectionString(text);
    for (const auto& [name, value] : keywords) {
        std::string quoted = kordb::braceQuote(value);
        if (quoted.size() >= 2 && quoted.front() == '{') {
            // Inside the braces every "}" must come doubled.
            for (size_t i = 1; i + 1 < quoted.size(); ++i) {
                if (quoted[i] != '}') continue;
                if (quoted[i + 1] != '}') std::abort();
                ++i;
            }
        } else if (quoted.find_first_of(";{}=") != std::string::npos) {
            std::abort();
        }
    }
    return 0;
}
