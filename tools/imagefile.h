// Output shared by the table generators: little-endian words of an image, and the image written
// as a C++ byte array for the server and as raw bytes for the build's comparison.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

void PutWord(std::vector<unsigned char>& out, std::uint32_t word);

// Writes a source defining `const u8 <name>Image[]` and `const size_t <name>ImageSize`, with the
// given opening comment lines and the header that declares both. Throws when it cannot write.
void WriteImageCpp(const std::string& path, const std::string& comment, const std::string& header,
                   const std::string& name, const std::vector<unsigned char>& image);
void WriteImageRaw(const std::string& path, const std::vector<unsigned char>& image);
