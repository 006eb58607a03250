// A target that misbehaves on purpose, so that CTest proves the replay's limits still stop a
// slow input and a greedy one and name them: "sleep" never returns, "eat" touches 600 MB.

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string command(reinterpret_cast<const char *>(data), size);
    if (command.rfind("sleep", 0) == 0) {
        for (;;)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (command.rfind("eat", 0) == 0) {
        std::vector<char> block(600u << 20);
        std::memset(block.data(), 1, block.size());
        return block[block.size() / 2];
    }
    return 0;
}
