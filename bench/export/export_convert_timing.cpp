// export_convert_timing IN OUT: the read-and-save path of `dravix-cli convert`, without the
// command-line front end, so compare.sh times a whole process as it times ImageMagick's.
#include <cstdio>
#include <string>

#include "export/ImageContainer.h"
#include "export/ImageType.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: export_convert_timing IN OUT\n");
        return 2;
    }
    const std::string output = argv[2];
    const dravix::ImageType type = dravix::ImageTypeFromExtension(dravix::GetFileExtension(output));
    dravix::ImageContainer image(argv[1], dravix::ImageType::kBmp);
    if (!image.IsValid() || !image.Save(output, type)) {
        std::fprintf(stderr, "%s\n", image.GetLastError().c_str());
        return 1;
    }
    return 0;
}
