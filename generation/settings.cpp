#include "generation/settings.h"

#include <algorithm>
#include <cctype>
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

const char* FormatName(ESampleFormat format) {
    return format == ESampleFormat::S16 ? "s16" : format == ESampleFormat::S24 ? "s24" : "f32";
}

const char* ContainerName(EContainer container) {
    switch (container) {
    case EContainer::Auto:
        return "auto";
    case EContainer::Wav:
        return "wav";
    case EContainer::Rf64:
        return "rf64";
    case EContainer::Flac:
        break;
    }
    return "flac";
}

EContainer ChosenContainer(const CGenerationSettings& settings) {
    if (settings.m_eContainer != EContainer::Auto) {
        return settings.m_eContainer;
    }
    const std::string& name = settings.m_strFileName;
    const bool flac = name.size() >= 5 && std::equal(name.end() - 5, name.end(), ".flac", [](char a, char b) {
                          return std::tolower(static_cast<unsigned char>(a)) == b;
                      });
    return flac ? EContainer::Flac : EContainer::Wav;
}
