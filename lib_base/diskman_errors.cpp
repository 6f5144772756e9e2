// The disk manager's own error numbering (FE codes): their texts and the mapping from host
// codes (Windows system errors, file-expansion errors, and the Windows codes that the platform
// layer gives for Linux errno values).
#include <cstddef>

#include "lib_base/diskman_local.h"
#include "lib_base/printer.h"

namespace {

// FE codes run from -1 to kLastFeCode; a code without a row has no text.
constexpr i32 kLastFeCode = 690;

const char kNoText[] =
    "C\xF3"
    "digo de erro inesperado";

// In FE-code order.
const struct {
    i32 fe;
    const char* text;
} kFeTexts[] = {
    {-1, "Operation failed or undefined error"},
    {0, "Operation sucess"},
    {2, "Unix : Diretorio/arquivo nao localizado"},
    {4, "Unix : filedes is bad."},
    {5, "Unix : Too many symbolic links encountered while traversing the path."},
    {6, "Unix : Bad address."},
    {7, "Unix : Out of memory (i.e. kernel memory)."},
    {8,
     "Unix : O_NONBLOCK | O_WRONLY is set, the named file  is  a FIFO and no process has the "
     "file open for reading. Or, the file is a device special file and no corresponding "
     "device exists."},
    {13, "Access is denied."},
    {25, "Win : Attempt to create file that already exists."},
    {51, "Win : The network path was not found."},
    {52,
     "Win: The specified path name is invalid.\nLinux: Pathname refers to a directory and the "
     "access requested involved writing."},
    {56, "Win : The pipe has been ended."},
    {60, "Win : The name of the file cannot be resolved by the system."},
    {118, "The directory is not empty."},
    {121, "The directory name is invalid."},
    {125, "Win : There is not enough space on the disk."},
    {159, "The file exists."},
    {160, "The volume for a file was externally altered and the opened file is no longer valid."},
    {161, "The system cannot find the file specified."},
    {162, "Win : The file size exceeds the limit allowed and cannot be saved."},
    {163, "The file name or extension is too long."},
    {175, "Win : The disk is full."},
    {210, "Win : The system cannot find the specified drive."},
    {222, "Win : The function is incorrect."},
    {228, "Win : The internal file identifier is incorrect."},
    {248, "Win : The file name, directory name, or volume label is syntactically incorrect."},
    {252, "Win : The parameter is incorrect."},
    {300, "Win : The request could not be performed because of an I/O device error."},
    {313,
     "Win : The process cannot access the file because another process has locked a portion "
     "of the file."},
    {399, "Win : Not enough storage is available to process this command."},
    {407, "Win : The drive is not ready."},
    {411, "Win : The system cannot move the file to a different disk drive."},
    {413, "Win : The request is not supported."},
    {416, "Win : The system cannot open the specified device or file."},
    {430, "Win : The system cannot find the specified path."},
    {516, "Win : The process cannot access the file because it is being used by another process."},
    {532, "Win : The operation was successfully completed."},
    {548, "Win : The system cannot open the file."},
    {579, "Win : The media is write protected."},
    {582, "Win : Invalid input handle."},
    {583, "Win : Invalid output handle."},
    {584, "Win : Input parameter out of acceptable range."},
    {585, "Win : Insufficient memory for LZFile structure."},
    {586, "Win : Bad global handle."},
    {587, "Win : Corrupt compressed file format."},
    {588, "Win : Out of space for output file."},
    {589, "Win : Compression algorithm not recognized."},
    {590, "Win : No error."},
};

// Each host code maps to a different FE code.
const struct {
    i32 host;
    i32 fe;
} kHostToFe[] = {
    {-8, 589},   {-7, 584},  {-6, 586},   {-5, 585},   {-4, 588},   {-3, 587},   {-2, 583},
    {-1, -1},    {0, 0},     {1, 222},    {2, 161},    {3, 430},    {4, 548},    {5, 13},
    {6, 228},    {8, 399},   {15, 210},   {17, 411},   {18, 360},   {19, 579},   {21, 407},
    {32, 516},   {33, 313},  {39, 175},   {50, 413},   {53, 51},    {87, 252},   {109, 56},
    {110, 416},  {112, 125}, {123, 248},  {145, 118},  {161, 52},   {183, 25},   {206, 163},
    {223, 162},  {267, 121}, {1006, 160}, {1117, 300}, {1377, 329}, {1378, 327}, {1444, 281},
    {1456, 332}, {1921, 60},
};

}  // namespace

const char* DiskManErrorText(i32 fe) {
    if (fe < -1 || fe > kLastFeCode) return kNoText;
    for (const auto& row : kFeTexts) {
        if (row.fe == fe) return row.text;
    }
    return kNoText;
}

i32 DiskManErrorFromHost(i32 host, const char* file, i32 line) {
    for (const auto& row : kHostToFe) {
        if (row.host == host) return row.fe;
    }
    BasePrintf("*** hostToFE() cod [%d] em [%s:%d] inesperado\n", host, file, line);
    return -1;
}
