// Runs the fuzz target over the files named on the command line, for builds
// without libFuzzer.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::ifstream f(argv[i], std::ios::binary);
        if (!f) {
            std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
            return 2;
        }
        std::string data{std::istreambuf_iterator<char>(f), {}};
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    }
    std::printf("replayed %d inputs\n", argc - 1);
    return 0;
}
