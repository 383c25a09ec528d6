#include "capture/file_names.h"

std::string fileNameOf(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string lowerExtension(std::string_view path) {
    const std::string name = fileNameOf(path);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos)
        return {};
    std::string ext = name.substr(dot);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

std::string stemOf(std::string_view path) {
    const std::string name = fileNameOf(path);
    const size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

bool isSheetExtension(std::string_view extension) {
    return extension == ".jpg" || extension == ".jpeg" || extension == ".png" ||
           extension == ".bmp";
}

std::string sheetBeside(std::string_view moviePath, std::string_view extension) {
    const size_t slash = moviePath.find_last_of('/');
    const std::string folder = slash == std::string_view::npos
                                   ? std::string()
                                   : std::string(moviePath.substr(0, slash + 1));
    return folder + stemOf(moviePath) + std::string(extension);
}

std::string sheetFormatOf(std::string_view path) {
    const std::string ext = lowerExtension(path);
    if (ext == ".jpg" || ext == ".jpeg")
        return "jpg";
    if (ext == ".png")
        return "png";
    return "bmp";
}
