// Runs a fuzz target over its seed inputs (and any files named on the command
// line) where libFuzzer is not available, so every target is built and
// exercised by the ordinary test run.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    std::vector<std::string> inputs = {
        "",
        "[Setting]\nPort=70000\nBuffer=1,5\nFile1=a\n",
        std::string("BRIV\x01\x00\x00\x00\xff\xff\x12\x00", 12),
        std::string(64, '\xff'),
        std::string("\x05\x00\x01\x00\x00", 5),
    };
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (const std::string& input : inputs) {
        for (size_t cut = 0; cut <= input.size(); ++cut) {
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), cut);
        }
    }
    return 0;
}
