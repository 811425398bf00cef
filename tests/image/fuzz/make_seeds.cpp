// Writes the fuzz seeds: the kinds of files the decoder's tests build. Usage: make_seeds dir
#include <cstdio>
#include <string>

#include "png_writer.h"

namespace {

void Write(const std::string& dir, const char* name, const Bytes& bytes) {
    FILE* f = fopen((dir + "/" + name).c_str(), "wb");
    if (!f) return;
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::string dir = argv[1];
    Bytes rgba = NoiseBytes(7 * 5 * 4, 1);
    Bytes rgb = NoiseBytes(9 * 4 * 3, 2);
    Write(dir, "rgba_all_filters.png", MakePng(rgba, 7, 5, 4, {1, 2, 3, 4, 0}));
    Write(dir, "rgb_all_filters.png", MakePng(rgb, 9, 4, 3, {2, 4, 3, 1}));
    Write(dir, "rgba_wide.png", MakePng(NoiseBytes(33 * 3 * 4, 3), 33, 3, 4, {1, 4, 2}));
    PngFields f;
    f.width = 7;
    f.height = 5;
    Bytes raw = FilterRows(rgba, 7, 5, 4, {1, 2, 4});
    Bytes two = PngSignature() + IhdrChunk(f) + PngChunk("IDAT", ZlibCompress(raw.substr(0, 40))) +
                PngChunk("tEXt", "k\0v") + PngChunk("IDAT", ZlibCompress(raw.substr(40))) + IendChunk();
    Write(dir, "two_streams.png", two);
    Write(dir, "stored_blocks.png",
          PngSignature() + IhdrChunk(f) + PngChunk("IDAT", ZlibStored(raw, 50)) + IendChunk());
    return 0;
}
