#include "generation/settings.h"

#include "generation/file_formats.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <string_view>

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
    return SampleFormatRows()[static_cast<std::size_t>(format)].m_szName;
}

const char* ContainerName(EContainer container) {
    return ContainerRows()[static_cast<std::size_t>(container)].m_szName;
}

EContainer ChosenContainer(const CGenerationSettings& settings) {
    if (settings.m_eContainer != EContainer::Auto) {
        return settings.m_eContainer;
    }
    const std::string& name = settings.m_strFileName;
    const std::string_view ending = ContainerRows()[static_cast<std::size_t>(EContainer::Flac)].m_szExtension;
    const bool flac =
        name.size() >= ending.size() &&
        std::equal(name.end() - static_cast<std::ptrdiff_t>(ending.size()), name.end(), ending.begin(),
                   [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    return flac ? EContainer::Flac : EContainer::Wav;
}
