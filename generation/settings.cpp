#include "generation/settings.h"

#include <cstdlib>

CGenerationSettings::CGenerationSettings() : m_strFileName(DefaultOutputPath()) {}

std::string DefaultOutputPath() {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') {
        return "Ombrel.wav";
    }
    std::string path(home);
    if (path.back() != '/') {
        path += '/';
    }
    return path + "Ombrel.wav";
}
