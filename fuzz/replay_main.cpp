// Replays a fuzz target's saved inputs (every file of the given directories) without
// libFuzzer, so the regular test run keeps the corpus passing.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int replayed = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
      LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
    if (error) {
      std::fprintf(stderr, "cannot read corpus %s: %s\n", argv[i], error.message().c_str());
      return 1;
    }
  }
  LLVMFuzzerTestOneInput(nullptr, 0);
  std::printf("%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;  // an empty corpus means the seeds went missing
}
