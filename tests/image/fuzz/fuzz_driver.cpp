// Runs the fuzz target without libFuzzer: every file of the corpus directories, then a
// bounded number of random mutations of them (byte flips, inserted and removed spans,
// chunk lengths and types rewritten). Usage: png_fuzz_driver iterations seed dir...
#include <dirent.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

uint32_t g_state = 1;
uint32_t Next() {
    g_state ^= g_state << 13;
    g_state ^= g_state >> 17;
    g_state ^= g_state << 5;
    return g_state;
}

std::vector<std::string> LoadCorpus(int count, char** dirs) {
    std::vector<std::string> corpus;
    for (int i = 0; i < count; ++i) {
        DIR* dir = opendir(dirs[i]);
        if (!dir) continue;
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.') continue;
            std::ifstream in(std::string(dirs[i]) + "/" + entry->d_name, std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            corpus.push_back(bytes.str());
        }
        closedir(dir);
    }
    return corpus;
}

void Mutate(std::string* s) {
    const int edits = 1 + Next() % 4;
    for (int e = 0; e < edits; ++e) {
        size_t at = s->empty() ? 0 : Next() % s->size();
        switch (Next() % 6) {
        case 0: if (!s->empty()) (*s)[at] ^= static_cast<char>(1 << (Next() % 8)); break;
        case 1: if (!s->empty()) (*s)[at] = static_cast<char>(Next()); break;
        case 2: s->insert(at, std::string(1 + Next() % 16, static_cast<char>(Next()))); break;
        case 3: s->erase(at, 1 + Next() % 32); break;
        case 4: if (at + 4 <= s->size()) {  // an interesting 32-bit value
            static const uint32_t values[] = {0, 1, 2, 5, 6, 0x20000, 0x20001, 0x7FFFFFFF, 0xFFFFFFFC, 0xFFFFFFFF};
            uint32_t v = values[Next() % 10];
            for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>(v >> (24 - 8 * i));
        } break;
        case 5: s->resize(at); break;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s iterations seed corpus-dir...\n", argv[0]);
        return 2;
    }
    const long iterations = atol(argv[1]);
    g_state = static_cast<uint32_t>(atol(argv[2])) | 1;
    std::vector<std::string> corpus = LoadCorpus(argc - 3, argv + 3);
    if (corpus.empty()) {
        fprintf(stderr, "empty corpus\n");
        return 2;
    }
    for (const std::string& s : corpus) {
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    for (long i = 0; i < iterations; ++i) {
        std::string s = corpus[Next() % corpus.size()];
        Mutate(&s);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    }
    printf("%zu corpus files and %ld mutations decoded without a fault\n", corpus.size(), iterations);
    return 0;
}
