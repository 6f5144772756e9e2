// The list of embedded table images.
#include "server/filter/ssresource.h"

#include <cstring>

#include "server/filter/filterdfa.h"
#include "server/filter/filterllr.h"

const SSResource* ssFindResource(const char* name) {
    static const SSResource images[] = {
        {"filter.dfa", kFilterDfaImage, kFilterDfaImageSize},
        {"filter.llr", kFilterLlrImage, kFilterLlrImageSize},
    };
    for (const SSResource& image : images) {
        if (std::strcmp(image.name, name) == 0) return &image;
    }
    return nullptr;
}
