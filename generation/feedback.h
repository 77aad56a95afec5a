#pragma once

#include <cstdint>
#include <string>

#include "platform/progress.h"

// Message-box types, with the values of the classic message-box API the texts were written for.
inline constexpr unsigned MB_OK = 0x0;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;

// What the generate job needs of its caller. The job calls BeginWait once, then EndWait once on
// every path, and at most one message (ShowMessage or ShowDetailedMessage) after EndWait. All
// calls come from the thread that runs the job. Progress and cancel are platform::CProgress's.
class CGenerationFeedback : public platform::CProgress {
public:
    // Show a busy indication until EndWait.
    virtual void BeginWait() = 0;
    // Remove the busy indication.
    virtual void EndWait() = 0;
    // Show `text` to the user (modal where there is a user); `type` is MB_OK or MB_ICONEXCLAMATION.
    virtual void ShowMessage(const std::string& text, unsigned type) = 0;

    // A message with more about it (such as the path and the system's reason), which a box may
    // show apart from `text`. By default `text` alone goes to ShowMessage.
    virtual void ShowDetailedMessage(const std::string& text, unsigned type, const std::string& detail) {
        (void)detail;
        ShowMessage(text, type);
    }
    // ReportProgress: frames in the file of the file's frames; called between BeginWait and EndWait,
    // every 65536 frames or fewer (a large bank: well under a tenth of a second apart) and at the
    // end, with rising counts.
    // CancelRequested: asked as often as ReportProgress is called, and every 50 ms while the job
    // waits for a reader: true stops the job as soon as it can, and it ends like a failure without
    // a message (the target left as it was).
    // The output is a FIFO that no program reads yet: the job waits for one (CancelRequested ends
    // the wait). Called at most once, between BeginWait and EndWait. Does nothing by default.
    virtual void ReportWaiting(const std::string& path) { (void)path; }
};
