// The desktop's executor: log lines and the status line's text queued under
// a lock for the window's timer, and the preparation of a run.
#include "cp1252.h"
#include "mainform.h"

uint32_t MessageColour(MessageKind Kind)
{
    switch (Kind) {
    case MessageKind::Comment:
        return 0x808080; // grey
    case MessageKind::Error:
        return 0x0000FF; // red
    case MessageKind::Warning:
        return 0x004060; // dark brown
    case MessageKind::Info:
        break;
    }
    return 0x000000;
}

QColor ColourFromValue(uint32_t Value)
{
    return QColor(static_cast<int>(Value & 0xFF), static_cast<int>(Value >> 8 & 0xFF),
                  static_cast<int>(Value >> 16 & 0xFF));
}

TMainFormExecuter::~TMainFormExecuter()
{
    if (CurrentFile) {
        CurrentFile->Stop();
        CurrentFile.reset();
    }
}

void TMainFormExecuter::Message(const std::string& Text, MessageKind Kind)
{
    std::lock_guard<std::mutex> lock(QueueLock);
    MessageQueue.push_back({Text, MessageColour(Kind)});
}

bool TMainFormExecuter::PrepareCable()
{
    if (SelectedCable == -1)
        AutoSelectCable();
    // With no cable the status line keeps what it says. The window's drain
    // shows it, before the lines queued after it.
    if (std::string text = CableInUseText(); !text.empty()) {
        std::lock_guard<std::mutex> lock(QueueLock);
        QueuedStatus = std::move(text);
    }
    LastPinState = {-1, -1, -1};
    OutCount = 0;
    return SelectedCable != -1;
}
