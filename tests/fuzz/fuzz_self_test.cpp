// Fuzzes the self-test: any input gives either the result document or one error line, never both,
// never anything else.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/self_test.h"

namespace {

void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "self-test contract broken: %s\n", what);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string input(reinterpret_cast<const char*>(data), size);
    std::string out, error;
    const int status = qk::selfTest(input, out, error);
    if (status == 0) {
        require(error.empty(), "an error line on success");
        require(out.size() >= 3 && out.front() == '[' && out.back() == '\n',
                "the result is not one array line");
        require(out.find_first_not_of("[],0123\n") == std::string::npos,
                "the result holds more than result codes");
        require(out.find('\n') == out.size() - 1, "the result is more than one line");
    } else {
        require(status == qk::dataError, "a status other than 0 or 65");
        require(out.empty(), "a result with an error");
        constexpr std::string_view prefix = "qkscan: self-test input: ";
        require(error.compare(0, prefix.size(), prefix) == 0, "the error line lacks its prefix");
        require(error.find('\n') == error.size() - 1, "the error is not one line");
    }
    return 0;
}
