#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

#include "generation/settings.h"

namespace {
// Sets or clears HOME for one test and puts the old value back.
class CHomeOverride {
public:
    explicit CHomeOverride(const char* value) {
        if (const char* old = std::getenv("HOME")) {
            m_strOld = old;
            m_bHad = true;
        }
        value ? setenv("HOME", value, 1) : unsetenv("HOME");
    }
    ~CHomeOverride() { m_bHad ? setenv("HOME", m_strOld.c_str(), 1) : unsetenv("HOME"); }

private:
    std::string m_strOld;
    bool m_bHad = false;
};
} // namespace

TEST(GenerationSettings, DefaultsAreTheDocumentedOnes) {
    CHomeOverride home("/home/ada");
    const CGenerationSettings s;
    EXPECT_EQ(s.m_strFileName, "/home/ada/Ombrel.wav");
    EXPECT_EQ(s.m_dDuration, 30.0);
    EXPECT_EQ(s.m_nSampleRate, 44100u);
    EXPECT_EQ(s.m_dFundamentalFreq, 277.0);
    EXPECT_EQ(s.m_dMotherAmplitude, 1.0);
    EXPECT_EQ(s.m_dCarrierFreq1, 14 * 277.0);
    EXPECT_EQ(s.m_dDaughterAmplitude1, 0.0);
    EXPECT_EQ(s.m_dCarrierFreq2, 15 * 277.0);
    EXPECT_EQ(s.m_dDaughterAmplitude2, 0.0);
    EXPECT_EQ(s.m_dNyquistFactor, 0.95);
}

TEST(GenerationSettings, DefaultPathFollowsHome) {
    {
        CHomeOverride home("/srv/user/");
        EXPECT_EQ(DefaultOutputPath(), "/srv/user/Ombrel.wav");
    }
    {
        CHomeOverride home(nullptr);
        EXPECT_EQ(DefaultOutputPath(), "Ombrel.wav");
    }
    {
        CHomeOverride home("");
        EXPECT_EQ(DefaultOutputPath(), "Ombrel.wav");
    }
}
