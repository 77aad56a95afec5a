#pragma once

#include <string>

// Message-box types, with the values of the classic message-box API the texts were written for.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;

// What the generate job needs of its caller. The job calls BeginWait once, then EndWait once on
// every path, and at most one ShowMessage after EndWait.
class CGenerationFeedback {
public:
    virtual ~CGenerationFeedback() = default;
    // Show a busy indication until EndWait.
    virtual void BeginWait() = 0;
    // Remove the busy indication.
    virtual void EndWait() = 0;
    // Show `text` to the user (modal where there is a user); `type` is MB_OK or MB_ICONEXCLAMATION.
    virtual void ShowMessage(const std::string& text, unsigned type) = 0;
};
