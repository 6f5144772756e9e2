// Output shared by the table generators.
#include "imagefile.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

void PutWord(std::vector<unsigned char>& out, std::uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back((word >> shift) & 0xFF);
}

void WriteImageCpp(const std::string& path, const std::string& comment, const std::string& header,
                   const std::string& name, const std::vector<unsigned char>& image) {
    std::ofstream out(path);
    out << comment << "#include \"" << header << "\"\n\nconst u8 " << name << "Image[] = {";
    for (size_t i = 0; i < image.size(); ++i) {
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02x,", image[i]);
        out << (i % 12 == 0 ? "\n    " : " ") << byte;
    }
    out << "\n};\nconst size_t " << name << "ImageSize = sizeof " << name << "Image;\n";
    if (!out) throw std::runtime_error("cannot write " + path);
}

void WriteImageRaw(const std::string& path, const std::vector<unsigned char>& image) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}
